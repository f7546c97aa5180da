// Protected files on POSIX: no access lists, the file mode says the same. The mode is set on an
// open descriptor of what the path names itself, so a planted symbolic link changes nothing.
#include "security/protected_dacl.h"

#include "common/dprint.h"
#include "common/posix_fd.h"

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>

namespace SetPerm {

namespace {

bool StoreMode(const char* label, const std::string& path, bool folder, mode_t mode) {
    const auto fail = [&](const std::string& why) {
        CommonModule::DPrint(std::string(label) + ": " + path + ": " + why);
        return false;
    };
    const posix::UniqueFd fd(
        ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW | O_NONBLOCK | O_NOCTTY));
    if (!fd) {
        return fail(errno == ELOOP ? std::string("a symbolic link; left as it is")
                                   : std::strerror(errno));
    }
    struct stat st {};
    if (::fstat(fd.get(), &st) != 0) {
        return fail(std::strerror(errno));
    }
    if (folder ? !S_ISDIR(st.st_mode) : !S_ISREG(st.st_mode)) {
        return fail(folder ? "not a plain folder; left as it is"
                           : "not a plain file; left as it is");
    }
    if (::fchmod(fd.get(), mode) != 0) {
        return fail(std::strerror(errno));
    }
    return true;
}

} // namespace

bool ProtectInstallFolder(const std::string& path) {
    return StoreMode("SetPerm\\ProtectInstallFolder", path, true, 0755);
}

bool ProtectSettingsFile(const std::string& path) {
    return StoreMode("SetPerm\\ProtectSettingsFile", path, false, 0600);
}

} // namespace SetPerm
