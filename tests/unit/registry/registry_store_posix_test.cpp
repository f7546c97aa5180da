// The POSIX registry store itself: names, subtrees, damaged or foreign databases, refused
// writes, processes writing at once and the journal a killed one leaves.
#include "registry/registry.h"
#include "registry/registry_store.h"

#include "support/debug_capture.h"
#include "support/environment.h"
#include "support/temp_folder.h"

#include <gtest/gtest.h>

#include <csignal>
#include <filesystem>
#include <sqlite3.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <pwd.h>
#include <string>
#include <vector>

using namespace modRegistry;
using testing_support::ScopedEnvironment;

namespace {

class RegistryStore : public ::testing::Test {
protected:
    std::string Database() const { return folder_.File("registry.db"); }

    testing_support::TempFolder folder_;
    ScopedEnvironment state_{"ADDRWATCH_STATE_DIR", folder_.Path().string()};
    ScopedEnvironment wow_{"ProgramFiles(x86)", std::string("C:\\Program Files (x86)")};
};

long Make(const std::string& path) {
    store::Key key;
    return store::CreateKey(store::kLocalMachine, path, store::View::View64, key);
}

std::vector<std::string> Subkeys(const std::string& path, long expected = 0) {
    std::vector<std::string> names;
    EXPECT_EQ(store::EnumerateSubkeys(store::kLocalMachine, path, store::View::View64, names),
              expected)
        << path;
    return names;
}

} // namespace

TEST_F(RegistryStore, NamesMatchRegardlessOfCaseAndKeepTheirFirstCase) {
    ASSERT_EQ(Make("Software\\MixedCase\\Inner"), 0);
    ASSERT_EQ(Make("SOFTWARE\\mixedcase\\Second"), 0);
    ASSERT_EQ(fWriteValue("HKLM", "software\\MIXEDCASE", "Value", "S", std::string("one")), 0);
    ASSERT_EQ(fWriteValue("HKLM", "Software\\MixedCase", "VALUE", "S", std::string("two")), 0);
    EXPECT_EQ(Subkeys("software"), (std::vector<std::string>{"MixedCase"}));
    EXPECT_EQ(Subkeys("Software\\MixedCase"), (std::vector<std::string>{"Inner", "Second"}));
    RegValue result;
    EXPECT_EQ(fReadValue("HKLM", "Software\\MixedCase", "value", "S", std::string(), result), 0);
    EXPECT_EQ(result, RegValue(std::string("two")));
    // Byte-for-byte UTF-8 names pass through.
    ASSERT_EQ(Make("Software\\Caf\xc3\xa9"), 0);
    EXPECT_EQ(Subkeys("Software"), (std::vector<std::string>{"Caf\xc3\xa9", "MixedCase"}));
}

TEST_F(RegistryStore, DeleteKeyTreeRemovesTheSubtreeAndNothingElse) {
    ASSERT_EQ(Make("Software\\Quillfen\\Addrwatch\\Deep\\Deeper"), 0);
    ASSERT_EQ(Make("Software\\Quillfen\\Addrwatcher"), 0); // shares the prefix, not the subtree
    ASSERT_EQ(
        fWriteValue("HKLM", "Software\\Quillfen\\Addrwatch\\Deep", "V", "S", std::string("x")), 0);
    EXPECT_EQ(store::DeleteKeyTree(store::kLocalMachine, "software\\quillfen\\ADDRWATCH",
                                   store::View::View64),
              0);
    EXPECT_EQ(Subkeys("Software\\Quillfen"), (std::vector<std::string>{"Addrwatcher"}));
    Subkeys("Software\\Quillfen\\Addrwatch\\Deep", 2);
    EXPECT_EQ(store::DeleteKeyTree(store::kLocalMachine, "Software\\Quillfen\\Addrwatch",
                                   store::View::View64),
              2);
    // Nothing of the deleted values is left behind.
    sqlite3* db = nullptr;
    ASSERT_EQ(sqlite3_open(Database().c_str(), &db), SQLITE_OK);
    sqlite3_stmt* st = nullptr;
    ASSERT_EQ(sqlite3_prepare_v2(db, "SELECT count(*) FROM vals", -1, &st, nullptr), SQLITE_OK);
    ASSERT_EQ(sqlite3_step(st), SQLITE_ROW);
    EXPECT_EQ(sqlite3_column_int(st, 0), 0);
    sqlite3_finalize(st);
    sqlite3_close(db);
}

TEST_F(RegistryStore, NoDatabaseYetReadsAsEmptyAndIsNotCreatedByReading) {
    RegValue result;
    EXPECT_EQ(fReadValue("HKLM", "Software\\Quillfen\\Addrwatch", "LastWANIP", "S", std::string(),
                         result),
              2);
    EXPECT_EQ(Subkeys("", 0), std::vector<std::string>{});
    Subkeys("Software", 2);
    EXPECT_FALSE(std::filesystem::exists(Database()));
    // The first write creates the folder too.
    ScopedEnvironment nested("ADDRWATCH_STATE_DIR", folder_.File("a/b"));
    EXPECT_EQ(fWriteValue("HKLM", "Software", "V", "S", std::string("x")), 0);
    EXPECT_TRUE(std::filesystem::exists(folder_.File("a/b/registry.db")));
}

TEST_F(RegistryStore, TheStoreIsItsOwnersAloneAndNeverReachedThroughALink) {
    const auto mode = [](const std::string& path) {
        struct stat st {};
        EXPECT_EQ(::lstat(path.c_str(), &st), 0) << path;
        return st.st_mode & 07777;
    };
    const mode_t mask = ::umask(0);
    const long created = fWriteValue("HKLM", "Software", "V", "S", std::string("x"));
    ::umask(mask);
    ASSERT_EQ(created, 0);
    EXPECT_EQ(mode(Database()), 0600u);

    // Left readable by an older version (and, for root, another user's): the next use narrows it.
    const passwd* nobody = getpwnam("nobody");
    if (geteuid() == 0 && nobody != nullptr) {
        ASSERT_EQ(chown(Database().c_str(), nobody->pw_uid, nobody->pw_gid), 0);
    }
    ASSERT_EQ(chmod(Database().c_str(), 0644), 0);
    RegValue result;
    EXPECT_EQ(fReadValue("HKLM", "Software", "V", "S", std::string(), result), 0);
    EXPECT_EQ(result, RegValue(std::string("x")));
    EXPECT_EQ(mode(Database()), 0600u);

    // A link in its place is refused and what it names is left as it is.
    const std::string elsewhere = folder_.File("elsewhere.db");
    std::filesystem::rename(Database(), elsewhere);
    ASSERT_EQ(chmod(elsewhere.c_str(), 0644), 0);
    std::filesystem::create_symlink(elsewhere, Database());
    testing_support::DebugCapture log;
    EXPECT_EQ(fReadValue("HKLM", "Software", "V", "S", std::string("dflt"), result), 5);
    EXPECT_EQ(fWriteValue("HKLM", "Software", "V", "S", std::string("y")), 5);
    ASSERT_FALSE(log.Messages().empty());
    EXPECT_EQ(log.Messages()[0],
              "\tmodRegistry\\store: " + Database() + ": Too many levels of symbolic links");
    EXPECT_EQ(mode(elsewhere), 0644u);
}

TEST_F(RegistryStore, DamagedOrForeignDatabasesAreReportedAndLeftAlone) {
    sqlite3* db = nullptr;
    ASSERT_EQ(sqlite3_open(folder_.File("foreign.db").c_str(), &db), SQLITE_OK);
    ASSERT_EQ(
        sqlite3_exec(db, "CREATE TABLE t(x); INSERT INTO t VALUES(1)", nullptr, nullptr, nullptr),
        SQLITE_OK);
    sqlite3_close(db);
    const std::string foreign = folder_.Read("foreign.db");
    const std::string cases[] = {
        std::string("this is not a database, it is a letter\n") + std::string(600, 'x'), foreign};
    for (const auto& bytes : cases) {
        folder_.Write("registry.db", bytes);
        testing_support::DebugCapture log;
        RegValue result;
        EXPECT_EQ(fReadValue("HKLM", "Software", "V", "S", std::string("dflt"), result), 1009);
        EXPECT_EQ(result, RegValue(std::string("dflt")));
        ASSERT_EQ(log.Messages().size(), 1u);
        EXPECT_EQ(log.Messages()[0].rfind("\tmodRegistry\\store: " + Database() + ": ", 0), 0u)
            << log.Messages()[0];
        EXPECT_EQ(fWriteValue("HKLM", "Software", "V", "S", std::string("x")), 1009);
        EXPECT_EQ(log.Messages().size(), 6u); // the store's line and the error block
        EXPECT_EQ(log.Messages().back(), "\t\t- lResult (0 is successful): 1009");
        EXPECT_EQ(folder_.Read("registry.db"), bytes);
    }
}

TEST_F(RegistryStore, AStoreTheUserCannotWriteGivesAccessDenied) {
    // As an ordinary user, the default location is not writable. Run that as "nobody" when the
    // tests run as root.
    const pid_t child = fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        if (geteuid() == 0) {
            const passwd* nobody = getpwnam("nobody");
            if (nobody == nullptr || setgid(nobody->pw_gid) != 0 || setuid(nobody->pw_uid) != 0) {
                _exit(100);
            }
        }
        unsetenv("ADDRWATCH_STATE_DIR");
        _exit(static_cast<int>(fWriteValue("HKLM", "Software\\Quillfen\\Addrwatch", "LastWANIP",
                                           "S", std::string("x"))));
    }
    int status = 0;
    ASSERT_EQ(waitpid(child, &status, 0), child);
    ASSERT_TRUE(WIFEXITED(status));
    EXPECT_EQ(WEXITSTATUS(status), 5);
}

TEST_F(RegistryStore, TwoProcessesWritingTheSameValueBothSucceed) {
    const std::string values[] = {std::string(3000, 'a'), std::string(5000, 'b')};
    int go[2];
    ASSERT_EQ(pipe(go), 0);
    pid_t children[2];
    for (int i = 0; i < 2; ++i) {
        children[i] = fork();
        ASSERT_GE(children[i], 0);
        if (children[i] == 0) {
            close(go[1]);
            char c;
            if (read(go[0], &c, 1) != 0) { // starts both when the pipe closes
                _exit(101);
            }
            for (int round = 0; round < 20; ++round) {
                const long code = fWriteValue(
                    "HKLM", "Software\\Quillfen\\Addrwatch\\Round" + std::to_string(round),
                    "LastWANIP", "S", values[i]);
                const long again = fWriteValue("HKLM", "Software\\Quillfen\\Addrwatch", "LastWANIP",
                                               "S", values[i]);
                if (code != 0 || again != 0) {
                    _exit(static_cast<int>(code != 0 ? code : again) & 0xff);
                }
            }
            _exit(0);
        }
    }
    close(go[0]);
    close(go[1]);
    for (pid_t child : children) {
        int status = 0;
        ASSERT_EQ(waitpid(child, &status, 0), child);
        ASSERT_TRUE(WIFEXITED(status));
        EXPECT_EQ(WEXITSTATUS(status), 0);
    }
    RegValue result;
    ASSERT_EQ(fReadValue("HKLM", "Software\\Quillfen\\Addrwatch", "LastWANIP", "S", std::string(),
                         result),
              0);
    const auto& text = std::get<std::string>(result);
    EXPECT_TRUE(text == values[0] || text == values[1]) << text.size();
    EXPECT_EQ(Subkeys("Software\\Quillfen\\Addrwatch").size(), 20u);
}

TEST_F(RegistryStore, AJournalLeftByAKilledWriterIsRolledBackByTheNextRead) {
    const std::string key = "Software\\Quillfen\\Addrwatch";
    ASSERT_EQ(fWriteValue("HKLM", key, "LastWANIP", "S", std::string("203.0.113.7")), 0);
    // A writer killed mid-transaction, after its changes spilled into the database file.
    const pid_t child = fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        sqlite3* db = nullptr;
        const char* sql =
            "PRAGMA cache_size = 1; BEGIN IMMEDIATE;"
            "UPDATE vals SET data = 'bogus';"
            "WITH RECURSIVE n(i) AS (SELECT 1 UNION ALL SELECT i + 1 FROM n WHERE i < 2000)"
            " INSERT INTO vals SELECT key, 'x' || i, 'x' || i, 1, randomblob(500) FROM vals, n"
            " WHERE folded = 'lastwanip';";
        if (sqlite3_open(Database().c_str(), &db) != SQLITE_OK ||
            sqlite3_exec(db, sql, nullptr, nullptr, nullptr) != SQLITE_OK) {
            _exit(100);
        }
        kill(getpid(), SIGKILL);
    }
    int status = 0;
    ASSERT_EQ(waitpid(child, &status, 0), child);
    ASSERT_TRUE(WIFSIGNALED(status)) << "the writer failed: " << WEXITSTATUS(status);
    ASSERT_TRUE(std::filesystem::exists(Database() + "-journal"));
    struct stat journal {};
    ASSERT_EQ(::stat((Database() + "-journal").c_str(), &journal), 0);
    EXPECT_EQ(journal.st_mode & 077, 0u) << "the journal holds the store's values too";

    RegValue result;
    EXPECT_EQ(fReadValue("HKLM", key, "LastWANIP", "S", std::string(), result), 0);
    EXPECT_EQ(result, RegValue(std::string("203.0.113.7")));
    EXPECT_FALSE(std::filesystem::exists(Database() + "-journal"));
    EXPECT_EQ(fWriteValue("HKLM", key, "Other", "S", std::string("x")), 0);
}
