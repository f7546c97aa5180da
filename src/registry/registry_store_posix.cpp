// POSIX registry store: an SQLite database standing in for the Windows registry.
//
// Keys form a tree under each root (a row per key with its parent; deleting a row cascades to
// its subtree and values). Names compare regardless of ASCII case through a folded copy and keep
// the case they were first written with; values keep their type and bytes. Every operation opens
// the database, runs one transaction and closes it again, waiting while another process holds
// it, so processes running at once take turns instead of failing. The waits of one process share
// one budget: a store that stays locked costs a run one bounded wait, not one per operation.
// Reads open the file for writing too (never creating it), so that SQLite can roll back the
// journal a killed writer left. A database that is not ours, or is damaged, is reported and left
// exactly as it is.
#include "registry/registry_store.h"

#include "common/dprint.h"
#include "common/posix_fd.h"
#include "common/state_folder_posix.h"
#include "common/text.h"

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <iterator>
#include <sqlite3.h>
#include <string_view>
#include <sys/stat.h>
#include <unistd.h>
#include <utility>

namespace modRegistry::store {

namespace {

constexpr int kApplicationId = 0x41575247; // marks the file as this program's store
constexpr int kBusyBudgetMs = 10000;
constexpr long kInvalidHandle = 6;
constexpr long kDiskFull = 112;
constexpr long kIoFailed = 1016;
constexpr mode_t kStoreMode = 0600;

constexpr const char* kSchema = "CREATE TABLE keys("
                                " id INTEGER PRIMARY KEY,"
                                " parent INTEGER REFERENCES keys(id) ON DELETE CASCADE,"
                                " name TEXT NOT NULL,"
                                " folded TEXT NOT NULL UNIQUE);"
                                "CREATE INDEX keys_parent ON keys(parent);"
                                "CREATE TABLE vals("
                                " key INTEGER NOT NULL REFERENCES keys(id) ON DELETE CASCADE,"
                                " name TEXT NOT NULL,"
                                " folded TEXT NOT NULL,"
                                " type INTEGER NOT NULL,"
                                " data BLOB NOT NULL,"
                                " PRIMARY KEY(key, folded)) WITHOUT ROWID;"
                                "PRAGMA application_id = 1096241735;"
                                "PRAGMA user_version = 1;";
static_assert(kApplicationId == 1096241735);

std::string DatabasePath() {
    return posix::StateFolder() + "/registry.db";
}

// What is left of this process's time to wait for a store held by another process. Shared by
// all connections: it is the one thing that must outlive a single operation.
std::atomic<int>& BusyBudgetMs() {
    static std::atomic<int> left{kBusyBudgetMs};
    return left;
}

// SQLite's busy handler: short sleeps at first, then longer, drawn from the budget; 0 (give up)
// once it is spent.
int WaitWhileBusy(void* /*unused*/, int attempt) {
    constexpr int kSteps[] = {1, 2, 5, 10, 20, 50};
    const int step = attempt < static_cast<int>(std::size(kSteps)) ? kSteps[attempt] : 100;
    std::atomic<int>& left = BusyBudgetMs();
    int now = left.load();
    int take = 0;
    do {
        take = std::min(step, now);
        if (take <= 0) {
            return 0;
        }
    } while (!left.compare_exchange_weak(now, now - take));
    sqlite3_sleep(take);
    return 1;
}

void LogStoreFailure(const std::string& path, const std::string& detail) {
    CommonModule::DPrint("modRegistry\\store: " + path + ": " + detail);
}

long CodeForSqlite(int rc) {
    switch (rc & 0xff) {
    case SQLITE_OK:
    case SQLITE_ROW:
    case SQLITE_DONE:
        return kSuccess;
    case SQLITE_NOTADB:
    case SQLITE_CORRUPT:
    case SQLITE_SCHEMA:
        return kBadDatabase;
    case SQLITE_CANTOPEN:
    case SQLITE_PERM:
    case SQLITE_READONLY:
    case SQLITE_AUTH:
        return kAccessDenied;
    case SQLITE_FULL:
        return kDiskFull;
    default:
        return kIoFailed;
    }
}

long CodeForErrno(int error) {
    return error == EACCES || error == EPERM || error == EROFS || error == ELOOP ? kAccessDenied
                                                                                 : kIoFailed;
}

// A statement, finalized when dropped.
class Statement {
public:
    Statement(sqlite3* db, const char* sql) {
        rc_ = sqlite3_prepare_v2(db, sql, -1, &stmt_, nullptr);
    }
    ~Statement() { sqlite3_finalize(stmt_); }
    Statement(const Statement&) = delete;
    Statement& operator=(const Statement&) = delete;

    int PrepareResult() const { return rc_; }
    Statement& Bind(int index, std::string_view text) {
        sqlite3_bind_text(stmt_, index, text.data(), static_cast<int>(text.size()),
                          SQLITE_TRANSIENT);
        return *this;
    }
    Statement& BindBlob(int index, std::string_view bytes) {
        sqlite3_bind_blob(stmt_, index, bytes.data(), static_cast<int>(bytes.size()),
                          SQLITE_TRANSIENT);
        return *this;
    }
    Statement& Bind(int index, sqlite3_int64 n) {
        sqlite3_bind_int64(stmt_, index, n);
        return *this;
    }
    Statement& BindNull(int index) {
        sqlite3_bind_null(stmt_, index);
        return *this;
    }
    // SQLITE_ROW, SQLITE_DONE or an error.
    int Step() { return rc_ == SQLITE_OK ? sqlite3_step(stmt_) : rc_; }
    bool IsNull(int column) const { return sqlite3_column_type(stmt_, column) == SQLITE_NULL; }
    sqlite3_int64 Int(int column) const { return sqlite3_column_int64(stmt_, column); }
    std::string Text(int column) const {
        const void* p = sqlite3_column_blob(stmt_, column);
        const int n = sqlite3_column_bytes(stmt_, column);
        return p == nullptr ? std::string() : std::string(static_cast<const char*>(p), n);
    }

private:
    sqlite3_stmt* stmt_ = nullptr;
    int rc_ = SQLITE_OK;
};

// One connection holding one transaction. Rolls back unless committed.
class Transaction {
public:
    Transaction() = default;
    ~Transaction() {
        if (db_ != nullptr) {
            if (active_) {
                sqlite3_exec(db_, "ROLLBACK", nullptr, nullptr, nullptr);
            }
            sqlite3_close_v2(db_);
        }
    }
    Transaction(const Transaction&) = delete;
    Transaction& operator=(const Transaction&) = delete;

    // Opens the store and begins: a write transaction takes the write lock at once, so two
    // writers queue on the busy timeout rather than deadlock. A missing store reads as empty:
    // kNotFound, and nothing is created.
    long Begin(bool write) {
        path_ = DatabasePath();
        if (write) {
            std::string folder;
            if (const int error = posix::MakeParentFolders(path_, folder); error != 0) {
                return Fail(CodeForErrno(error), folder + ": " + std::strerror(error));
            }
        }
        if (const long code = MakePrivate(write); code != kSuccess) {
            return code;
        }
        // Read-write even to read (SQLite falls back to read-only on a file the user may not
        // write); only a write may create the file. Never through a link (see MakePrivate).
        const int flags =
            SQLITE_OPEN_READWRITE | SQLITE_OPEN_NOFOLLOW | (write ? SQLITE_OPEN_CREATE : 0);
        int rc = sqlite3_open_v2(path_.c_str(), &db_, flags, nullptr);
        if (rc != SQLITE_OK) {
            return Fail(rc);
        }
        sqlite3_extended_result_codes(db_, 1);
        sqlite3_busy_handler(db_, WaitWhileBusy, nullptr);
        if ((rc = sqlite3_exec(db_, "PRAGMA foreign_keys = ON", nullptr, nullptr, nullptr)) !=
            SQLITE_OK) {
            return Fail(rc);
        }
        if ((rc = sqlite3_exec(db_, write ? "BEGIN IMMEDIATE" : "BEGIN", nullptr, nullptr,
                               nullptr)) != SQLITE_OK) {
            return Fail(rc);
        }
        active_ = true;
        return CheckSchema(write);
    }

    long Commit() {
        const int rc = sqlite3_exec(db_, "COMMIT", nullptr, nullptr, nullptr);
        if (rc != SQLITE_OK) {
            return Fail(rc);
        }
        active_ = false;
        return kSuccess;
    }

    sqlite3* db() const { return db_; }
    bool empty() const { return empty_; }

    // The code for a failed statement, with SQLite's own account of it in the log.
    long Fail(int rc) {
        return Fail(CodeForSqlite(rc), db_ != nullptr ? sqlite3_errmsg(db_) : sqlite3_errstr(rc));
    }
    long Fail(long code, const std::string& detail) {
        LogStoreFailure(path_, detail);
        return code;
    }

private:
    // The store is for its owner's eyes only: a write creates it 0600 (SQLite gives its journal
    // the store's mode), and the owner's or root's run narrows one an older version or another
    // hand left readable to others. A regular file only, not followed through a link, which
    // would narrow some other file. Done through a descriptor of its own, closed before SQLite
    // opens the file: this process has no other connection open then, so the close drops no
    // SQLite lock. kNotFound when a read finds no store.
    long MakePrivate(bool write) {
        const posix::UniqueFd fd(::open(path_.c_str(),
                                        O_RDONLY | O_CLOEXEC | O_NOFOLLOW | O_NONBLOCK | O_NOCTTY |
                                            (write ? O_CREAT : 0),
                                        kStoreMode));
        if (!fd) {
            return !write && (errno == ENOENT || errno == ENOTDIR)
                       ? kNotFound
                       : Fail(CodeForErrno(errno), std::strerror(errno));
        }
        struct stat st {};
        if (::fstat(fd.get(), &st) != 0) {
            return Fail(CodeForErrno(errno), std::strerror(errno));
        }
        if (!S_ISREG(st.st_mode)) {
            return Fail(kAccessDenied, "not a regular file");
        }
        const bool mayChange = st.st_uid == ::geteuid() || ::geteuid() == 0;
        if ((st.st_mode & 077) != 0 && mayChange && ::fchmod(fd.get(), st.st_mode & 0700) != 0) {
            return Fail(CodeForErrno(errno),
                        std::string("narrowing its mode: ") + std::strerror(errno));
        }
        return kSuccess;
    }

    // Our store carries our application id; a fresh file has no tables yet. Anything else is
    // someone else's database or a damaged one, and is left untouched.
    long CheckSchema(bool write) {
        Statement id(db_, "PRAGMA application_id");
        int rc = id.Step();
        if (rc != SQLITE_ROW) {
            return Fail(rc);
        }
        if (id.Int(0) == kApplicationId) {
            return kSuccess;
        }
        Statement tables(db_, "SELECT count(*) FROM sqlite_master");
        if ((rc = tables.Step()) != SQLITE_ROW) {
            return Fail(rc);
        }
        if (id.Int(0) != 0 || tables.Int(0) != 0) {
            return Fail(kBadDatabase, "not a registry store of this program");
        }
        empty_ = true;
        if (!write) {
            return kSuccess;
        }
        if ((rc = sqlite3_exec(db_, kSchema, nullptr, nullptr, nullptr)) != SQLITE_OK) {
            return Fail(rc);
        }
        empty_ = false;
        return kSuccess;
    }

    std::string path_;
    sqlite3* db_ = nullptr;
    bool active_ = false;
    bool empty_ = false;
};

const char* RootName(std::uintptr_t root) {
    switch (root) {
    case kClassesRoot:
        return "HKEY_CLASSES_ROOT";
    case kCurrentUser:
        return "HKEY_CURRENT_USER";
    case kLocalMachine:
        return "HKEY_LOCAL_MACHINE";
    case kUsers:
        return "HKEY_USERS";
    case kCurrentConfig:
        return "HKEY_CURRENT_CONFIG";
    case kDynData:
        return "HKEY_DYN_DATA";
    default:
        return nullptr;
    }
}

// A key's place in the store: its components as written (root first), as the physical tree
// holds them.
struct Location {
    std::vector<std::string> names;
    bool IsRoot() const { return names.size() == 1; }
    // The folded path of the first n components: the unique name of that key.
    std::string Folded(std::size_t n) const {
        std::string f;
        for (std::size_t i = 0; i < n; ++i) {
            if (i != 0) {
                f += '\\';
            }
            f += text::ToLowerAscii(names[i]);
        }
        return f;
    }
    std::string Folded() const { return Folded(names.size()); }
};

// The 32-bit view of a 64-bit system sees HKLM\Software through its Wow6432Node subkey.
long Locate(std::uintptr_t root, const std::string& path, View view, Location& where) {
    const char* rootName = RootName(root);
    if (rootName == nullptr) {
        return kInvalidHandle;
    }
    where.names = {rootName};
    std::size_t from = 0;
    while (from <= path.size()) {
        std::size_t to = path.find('\\', from);
        if (to == std::string::npos) {
            to = path.size();
        }
        if (to > from) {
            where.names.push_back(path.substr(from, to - from));
        }
        from = to + 1;
    }
    auto& n = where.names;
    if (view == View::View32 && root == kLocalMachine && n.size() >= 2 &&
        text::EqualsIgnoreCaseAscii(n[1], "software") &&
        !(n.size() >= 3 && text::EqualsIgnoreCaseAscii(n[2], "wow6432node"))) {
        n.insert(n.begin() + 2, "Wow6432Node");
    }
    return kSuccess;
}

// The key's row id, or 0 when the key is not in the store.
long FindKey(Transaction& tx, const std::string& folded, sqlite3_int64& id) {
    id = 0;
    if (tx.empty()) {
        return kSuccess;
    }
    Statement find(tx.db(), "SELECT id FROM keys WHERE folded = ?1");
    const int rc = find.Bind(1, folded).Step();
    if (rc == SQLITE_ROW) {
        id = find.Int(0);
    } else if (rc != SQLITE_DONE) {
        return tx.Fail(rc);
    }
    return kSuccess;
}

// Creates the key and its missing parents; id receives the key's row.
long MakeKey(Transaction& tx, const Location& where, sqlite3_int64& id) {
    sqlite3_int64 parent = 0;
    for (std::size_t n = 1; n <= where.names.size(); ++n) {
        const std::string folded = where.Folded(n);
        Statement insert(tx.db(), "INSERT INTO keys(parent, name, folded) VALUES(?1, ?2, ?3) "
                                  "ON CONFLICT(folded) DO NOTHING");
        if (n == 1) {
            insert.BindNull(1);
        } else {
            insert.Bind(1, parent);
        }
        const int rc = insert.Bind(2, where.names[n - 1]).Bind(3, folded).Step();
        if (rc != SQLITE_DONE) {
            return tx.Fail(rc);
        }
        if (const long code = FindKey(tx, folded, parent); code != kSuccess) {
            return code;
        }
    }
    id = parent;
    return kSuccess;
}

} // namespace

struct Key::Impl {
    Location where;
};

Key::Key() = default;
Key::~Key() = default;
Key::Key(Key&&) noexcept = default;
Key& Key::operator=(Key&&) noexcept = default;
bool Key::IsOpen() const {
    return impl != nullptr;
}
long Key::Close() {
    if (!impl) {
        return kInvalidHandle;
    }
    impl.reset();
    return kSuccess;
}

long OpenKey(std::uintptr_t root, const std::string& path, View view, Key& key) {
    key.impl.reset();
    Location where;
    if (const long code = Locate(root, path, view, where); code != kSuccess) {
        return code;
    }
    if (!where.IsRoot()) {
        Transaction tx;
        if (const long code = tx.Begin(false); code != kSuccess) {
            return code;
        }
        sqlite3_int64 id = 0;
        if (const long code = FindKey(tx, where.Folded(), id); code != kSuccess) {
            return code;
        }
        if (id == 0) {
            return kNotFound;
        }
    }
    key.impl = std::make_unique<Key::Impl>(Key::Impl{std::move(where)});
    return kSuccess;
}

long CreateKey(std::uintptr_t root, const std::string& path, View view, Key& key) {
    key.impl.reset();
    Location where;
    if (const long code = Locate(root, path, view, where); code != kSuccess) {
        return code;
    }
    Transaction tx;
    sqlite3_int64 id = 0;
    long code = tx.Begin(true);
    if (code == kSuccess) {
        code = MakeKey(tx, where, id);
    }
    if (code == kSuccess) {
        code = tx.Commit();
    }
    if (code == kSuccess) {
        key.impl = std::make_unique<Key::Impl>(Key::Impl{std::move(where)});
    }
    return code;
}

long QueryValue(const Key& key, const std::string& name, std::size_t capacity, std::uint32_t& type,
                std::string& data, std::size_t& size) {
    data.clear();
    size = 0;
    if (!key.impl) {
        return kInvalidHandle;
    }
    const Location& where = key.impl->where;
    // A key removed since it was opened answers as Windows does for a deleted key.
    const long keyGone = where.IsRoot() ? kNotFound : kKeyDeleted;
    Transaction tx;
    if (const long code = tx.Begin(false); code != kSuccess) {
        return code == kNotFound ? keyGone : code;
    }
    if (tx.empty()) {
        return keyGone;
    }
    Statement query(tx.db(), "SELECT v.type, v.data FROM keys k LEFT JOIN vals v"
                             " ON v.key = k.id AND v.folded = ?2 WHERE k.folded = ?1");
    const int rc = query.Bind(1, where.Folded()).Bind(2, text::ToLowerAscii(name)).Step();
    if (rc == SQLITE_DONE) {
        return keyGone;
    }
    if (rc != SQLITE_ROW) {
        return tx.Fail(rc);
    }
    if (query.IsNull(0)) {
        return kNotFound;
    }
    type = static_cast<std::uint32_t>(query.Int(0));
    std::string bytes = query.Text(1);
    size = bytes.size();
    if (bytes.size() > capacity) {
        return kMoreData;
    }
    data = std::move(bytes);
    return kSuccess;
}

long SetValue(const Key& key, const std::string& name, std::uint32_t type,
              const std::string& data) {
    if (!key.impl) {
        return kInvalidHandle;
    }
    const Location& where = key.impl->where;
    Transaction tx;
    long code = tx.Begin(true);
    sqlite3_int64 id = 0;
    if (code == kSuccess) {
        // A root always exists; any other key must still be there.
        code = where.IsRoot() ? MakeKey(tx, where, id) : FindKey(tx, where.Folded(), id);
    }
    if (code != kSuccess) {
        return code;
    }
    if (id == 0) {
        return kKeyDeleted;
    }
    Statement upsert(
        tx.db(),
        "INSERT INTO vals(key, name, folded, type, data) VALUES(?1, ?2, ?3, ?4, ?5) "
        "ON CONFLICT(key, folded) DO UPDATE SET type = excluded.type, data = excluded.data");
    const int rc = upsert.Bind(1, id)
                       .Bind(2, name)
                       .Bind(3, text::ToLowerAscii(name))
                       .Bind(4, sqlite3_int64{type})
                       .BindBlob(5, data)
                       .Step();
    if (rc != SQLITE_DONE) {
        return tx.Fail(rc);
    }
    return tx.Commit();
}

long DeleteValue(const Key& key, const std::string& name) {
    if (!key.impl) {
        return kInvalidHandle;
    }
    const Location& where = key.impl->where;
    Transaction tx;
    if (const long code = tx.Begin(true); code != kSuccess) {
        return code;
    }
    Statement remove(tx.db(), "DELETE FROM vals WHERE folded = ?2"
                              " AND key = (SELECT id FROM keys WHERE folded = ?1)");
    const int rc = remove.Bind(1, where.Folded()).Bind(2, text::ToLowerAscii(name)).Step();
    if (rc != SQLITE_DONE) {
        return tx.Fail(rc);
    }
    if (sqlite3_changes(tx.db()) == 0) {
        return kNotFound;
    }
    return tx.Commit();
}

long DeleteKeyTree(std::uintptr_t root, const std::string& path, View view) {
    Location where;
    if (const long code = Locate(root, path, view, where); code != kSuccess) {
        return code;
    }
    if (where.IsRoot()) {
        return kAccessDenied; // a root key cannot be deleted
    }
    struct stat st {};
    if (::stat(DatabasePath().c_str(), &st) != 0 && errno == ENOENT) {
        return kNotFound;
    }
    Transaction tx;
    if (const long code = tx.Begin(true); code != kSuccess) {
        return code;
    }
    // The subkeys and values go with the key through the cascading references.
    Statement remove(tx.db(), "DELETE FROM keys WHERE folded = ?1");
    const int rc = remove.Bind(1, where.Folded()).Step();
    if (rc != SQLITE_DONE) {
        return tx.Fail(rc);
    }
    if (sqlite3_changes(tx.db()) == 0) {
        return kNotFound;
    }
    return tx.Commit();
}

long EnumerateSubkeys(std::uintptr_t root, const std::string& path, View view,
                      std::vector<std::string>& names) {
    names.clear();
    Location where;
    if (const long code = Locate(root, path, view, where); code != kSuccess) {
        return code;
    }
    const long keyMissing = where.IsRoot() ? kSuccess : kNotFound;
    Transaction tx;
    if (const long code = tx.Begin(false); code != kSuccess) {
        return code == kNotFound ? keyMissing : code;
    }
    if (tx.empty()) {
        return keyMissing;
    }
    Statement list(tx.db(), "SELECT c.name FROM keys p LEFT JOIN keys c ON c.parent = p.id"
                            " WHERE p.folded = ?1 ORDER BY c.folded");
    list.Bind(1, where.Folded());
    bool found = false;
    int rc;
    while ((rc = list.Step()) == SQLITE_ROW) {
        found = true;
        if (!list.IsNull(0)) {
            names.push_back(list.Text(0));
        }
    }
    if (rc != SQLITE_DONE) {
        return tx.Fail(rc);
    }
    return found ? kSuccess : keyMissing;
}

} // namespace modRegistry::store
