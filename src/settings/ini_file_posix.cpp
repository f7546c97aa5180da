// POSIX settings file: the INI rules of ini_text.h over the file's bytes. A write replaces the
// file through a temporary file and rename, so a crash never leaves half a file; it keeps the
// file's mode (and owner, where allowed) and creates a new file readable by its owner only,
// because it holds the mail password.
#include "settings/ini_file.h"

#include "settings/ini_text.h"

#include "common/dprint.h"
#include "common/posix_fd.h"

#include <cerrno>
#include <climits>
#include <cstdint>
#include <cstdlib>
#include <fcntl.h>
#include <string>
#include <sys/stat.h>
#include <unistd.h>

namespace platform {

namespace {

enum class ReadOutcome { Read, Missing, Failed };

// Past this size a settings file is taken as unreadable rather than read into memory.
constexpr std::size_t kMaxSettingsFileSize = 1024 * 1024;

ReadOutcome Unreadable(const std::string& path, const char* why) {
    CommonModule::DPrint("ReadINI: " + path + ": " + why + "; the file counts as unreadable");
    return ReadOutcome::Failed;
}

// Only a regular file is read, so a FIFO or a device can neither stall nor flood the run; the
// open does not wait for a FIFO's writer.
ReadOutcome ReadWholeFile(const std::string& path, std::string& content) {
    posix::UniqueFd fd(::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK));
    if (!fd) {
        return errno == ENOENT ? ReadOutcome::Missing : ReadOutcome::Failed;
    }
    struct stat st {};
    if (::fstat(fd.get(), &st) != 0 || S_ISDIR(st.st_mode)) {
        return ReadOutcome::Failed;
    }
    if (!S_ISREG(st.st_mode)) {
        return Unreadable(path, "not a regular file");
    }
    if (static_cast<std::uintmax_t>(st.st_size) > kMaxSettingsFileSize) {
        return Unreadable(path, "larger than 1 MiB");
    }
    content.clear();
    char buffer[8192];
    for (;;) {
        const ssize_t n = ::read(fd.get(), buffer, sizeof buffer);
        if (n < 0 && errno == EINTR) {
            continue;
        }
        if (n < 0) {
            return ReadOutcome::Failed;
        }
        if (n == 0) {
            return ReadOutcome::Read;
        }
        content.append(buffer, static_cast<std::size_t>(n));
        if (content.size() > kMaxSettingsFileSize) { // it grew while being read
            return Unreadable(path, "larger than 1 MiB");
        }
    }
}

bool WriteAll(int fd, std::string_view data) {
    while (!data.empty()) {
        const ssize_t n = ::write(fd, data.data(), data.size());
        if (n < 0 && errno == EINTR) {
            continue;
        }
        if (n <= 0) {
            return false;
        }
        data.remove_prefix(static_cast<std::size_t>(n));
    }
    return true;
}

// The file a write must replace: the target of a link, so the link itself survives.
std::string ResolvedPath(const std::string& path) {
    char resolved[PATH_MAX];
    return ::realpath(path.c_str(), resolved) != nullptr ? std::string(resolved) : path;
}

} // namespace

std::string ReadIniValue(const std::string& file, const std::string& section,
                         const std::string& key) {
    std::string content;
    if (ReadWholeFile(file, content) != ReadOutcome::Read) {
        return {};
    }
    return ini::Lookup(content, section, key).value_or(std::string());
}

void WriteIniValue(const std::string& file, const std::string& section, const std::string& key,
                   const std::string& value) {
    const std::string path = ResolvedPath(file);
    std::string content;
    struct stat st {};
    const ReadOutcome outcome = ReadWholeFile(path, content);
    if (outcome == ReadOutcome::Failed) {
        return;
    }
    const bool exists = outcome == ReadOutcome::Read;
    if (exists) {
        // A file without any write permission is read-only, even for root, as on Windows.
        if (::stat(path.c_str(), &st) != 0 || (st.st_mode & 0222) == 0 ||
            ::access(path.c_str(), W_OK) != 0) {
            return;
        }
    }
    const std::string updated = ini::Update(content, section, key, value);

    std::string temp = path + ".XXXXXX";
    posix::UniqueFd fd(::mkstemp(temp.data()));
    if (!fd) {
        return;
    }
    const mode_t mode = exists ? (st.st_mode & 07777) : 0600;
    bool ok = ::fchmod(fd.get(), mode) == 0;
    if (ok && exists) {
        // Keeps the owner when root rewrites another user's file; harmless when not allowed.
        const int ignored = ::fchown(fd.get(), st.st_uid, st.st_gid);
        (void)ignored;
    }
    ok = ok && WriteAll(fd.get(), updated) && ::fsync(fd.get()) == 0;
    ok = fd.Close() && ok;
    if (!ok || ::rename(temp.c_str(), path.c_str()) != 0) {
        ::unlink(temp.c_str());
    }
}

} // namespace platform
