// POSIX: the settings file is root's alone (it holds the mail password), so a window started by
// another user could neither show nor save the settings. Asked with the effective user's rights,
// as the window would read and write.
#include "ui/settings_access.h"

#include "common/posix_fd.h"

#include <cerrno>
#include <fcntl.h>
#include <string>
#include <unistd.h>

namespace ui::platform {

namespace {

constexpr const char* kHow =
    " Open the window as root: pkexec addrwatch /config, or sudo addrwatch /config.";

std::string FolderOf(const std::string& file) {
    const std::size_t slash = file.rfind('/');
    return slash == std::string::npos ? std::string(".") : file.substr(0, slash + 1);
}

} // namespace

std::string SettingsAccessProblem(const std::string& settingsFile) {
    // Non-blocking, so a FIFO planted in its place cannot hold the window up; what kind of file it
    // is, the settings reader judges.
    const posix::UniqueFd fd(::open(settingsFile.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC));
    if (fd) {
        return {};
    }
    if (errno == EACCES || errno == EPERM) {
        return "the settings file " + settingsFile +
               " cannot be read by this user: it holds the mail password, so only root may "
               "read it." +
               kHow;
    }
    if (errno == ENOENT &&
        ::faccessat(AT_FDCWD, FolderOf(settingsFile).c_str(), W_OK | X_OK, AT_EACCESS) != 0) {
        return "the settings file " + settingsFile +
               " does not exist yet, and this user cannot create it." + kHow;
    }
    return {};
}

} // namespace ui::platform
