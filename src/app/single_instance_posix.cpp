// POSIX: an exclusive flock on check-run.lock in the state folder. The file stays; only the lock
// matters, and the kernel drops it with the holder's last descriptor.
#include "app/single_instance.h"

#include "common/dprint.h"
#include "common/posix_fd.h"
#include "common/state_folder_posix.h"

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <string>
#include <sys/file.h>

namespace modGetExternalIP {

struct SingleInstance::Impl {
    posix::UniqueFd fd;
};

SingleInstance::SingleInstance() : impl_(std::make_unique<Impl>()) {
    const std::string path = posix::StateFolder() + "/check-run.lock";
    std::string folder;
    if (const int error = posix::MakeParentFolders(path, folder); error != 0) {
        CommonModule::DPrint("SingleInstance: " + folder + ": " + std::strerror(error) +
                             "; running unguarded");
        acquired_ = true;
        return;
    }
    impl_->fd =
        posix::UniqueFd(::open(path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC | O_NOFOLLOW, 0644));
    if (!impl_->fd) {
        CommonModule::DPrint("SingleInstance: " + path + ": " + std::strerror(errno) +
                             "; running unguarded");
        acquired_ = true;
        return;
    }
    int rc;
    while ((rc = ::flock(impl_->fd.get(), LOCK_EX | LOCK_NB)) != 0 && errno == EINTR) {
    }
    if (rc == 0) {
        acquired_ = true;
    } else if (errno != EWOULDBLOCK) {
        CommonModule::DPrint("SingleInstance: " + path + ": " + std::strerror(errno) +
                             "; running unguarded");
        acquired_ = true;
    }
}

SingleInstance::~SingleInstance() = default;

} // namespace modGetExternalIP
