// POSIX: the prepared file is read whole (a regular file, at most 1 MiB), written to a new 0600
// file beside the settings file and renamed over it; rename replaces the name, so a link planted
// there is never written through.
#include "settings/install_settings_file.h"

#include "common/dprint.h"
#include "common/posix_fd.h"

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <string>
#include <sys/stat.h>
#include <unistd.h>

namespace CommonModule {

namespace {

constexpr off_t kMaxSettingsFileSize = 1024 * 1024;

bool Fail(const std::string& what, int error) {
    DPrint("InstallSettingsFile: " + what + ": " + std::strerror(error));
    return false;
}

bool ReadPrepared(const std::string& source, std::string& bytes) {
    const posix::UniqueFd fd(::open(source.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK | O_NOCTTY));
    struct stat st {};
    if (!fd || ::fstat(fd.get(), &st) != 0) {
        return Fail(source, errno);
    }
    if (!S_ISREG(st.st_mode) || st.st_size > kMaxSettingsFileSize) {
        DPrint("InstallSettingsFile: " + source + ": not a regular file of at most 1 MiB");
        return false;
    }
    bytes.assign(static_cast<std::size_t>(st.st_size), '\0');
    std::size_t done = 0;
    while (done < bytes.size()) {
        const ssize_t n = ::read(fd.get(), bytes.data() + done, bytes.size() - done);
        if (n < 0 && errno == EINTR) {
            continue;
        }
        if (n <= 0) {
            return Fail(source, n < 0 ? errno : EIO);
        }
        done += static_cast<std::size_t>(n);
    }
    return true;
}

} // namespace

bool InstallSettingsFile(const std::string& source, const std::string& target) {
    std::string bytes;
    if (!ReadPrepared(source, bytes)) {
        return false;
    }
    std::string temp = target + ".XXXXXX";
    posix::UniqueFd fd(::mkstemp(temp.data())); // mode 0600
    if (!fd) {
        return Fail(temp, errno);
    }
    int error = 0;
    std::size_t done = 0;
    while (error == 0 && done < bytes.size()) {
        const ssize_t n = ::write(fd.get(), bytes.data() + done, bytes.size() - done);
        if (n > 0) {
            done += static_cast<std::size_t>(n);
        } else if (n == 0 || errno != EINTR) {
            error = n == 0 ? EIO : errno;
        }
    }
    if (error == 0 && ::fsync(fd.get()) != 0) {
        error = errno;
    }
    if (!fd.Close() && error == 0) {
        error = errno;
    }
    if (error == 0 && ::rename(temp.c_str(), target.c_str()) != 0) {
        error = errno;
    }
    if (error != 0) {
        ::unlink(temp.c_str());
        return Fail(target, error);
    }
    return true;
}

bool RemoveSettingsFile(const std::string& target) {
    if (::unlink(target.c_str()) == 0 || errno == ENOENT) {
        return true;
    }
    return Fail(target, errno);
}

} // namespace CommonModule
