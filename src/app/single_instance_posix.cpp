// POSIX: an exclusive flock on check-run.lock in the state folder. The file stays; only the lock
// matters, and the kernel drops it with the holder's last descriptor.
//
// flock needs nothing but an open descriptor, so the file is the effective user's alone (0600,
// in a folder made 0700), put right through the open descriptor when an older version or another
// hand left it otherwise. It is never unlinked: a run may hold a lock on that inode. A descriptor
// opened while the file was still readable outlives the narrowing, so a lock found taken stops
// the run only when a check run holds it. Whatever else keeps the guard from working (a file that
// is not ours to use, a lock held by another user's process) costs the guard, with a message,
// never the check.
#include "app/single_instance.h"

#include "app/lock_holders_posix.h"
#include "common/dprint.h"
#include "common/posix_fd.h"
#include "common/state_folder_posix.h"

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <string>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

namespace modGetExternalIP {

namespace {

constexpr mode_t kLockMode = 0600;

void RunUnguarded(const std::string& path, const std::string& why) {
    CommonModule::DPrint("SingleInstance: " + path + ": " + why + "; running unguarded");
}

// Empty when the open file may serve as the lock and is now the effective user's alone;
// otherwise why it is not used.
std::string MakePrivateLock(int fd) {
    struct stat st {};
    if (::fstat(fd, &st) != 0) {
        return std::strerror(errno);
    }
    if (!S_ISREG(st.st_mode)) {
        return "not a regular file";
    }
    if (st.st_nlink != 1) {
        return "the file has other names"; // put right, it would change another file too
    }
    if (st.st_uid != ::geteuid() && ::fchown(fd, ::geteuid(), ::getegid()) != 0) {
        return std::string("not owned by this user and cannot be taken over: ") +
               std::strerror(errno);
    }
    if ((st.st_mode & 07777) != kLockMode && ::fchmod(fd, kLockMode) != 0) {
        return std::string("its mode cannot be made 0600: ") + std::strerror(errno);
    }
    return {};
}

int TryLock(int fd) {
    int rc;
    while ((rc = ::flock(fd, LOCK_EX | LOCK_NB)) != 0 && errno == EINTR) {
    }
    return rc == 0 ? 0 : errno;
}

std::string Join(const std::vector<std::string>& parts) {
    std::string all;
    for (const std::string& part : parts) {
        all += (all.empty() ? "" : ", ") + part;
    }
    return all;
}

} // namespace

struct SingleInstance::Impl {
    posix::UniqueFd fd;
};

SingleInstance::SingleInstance() : impl_(std::make_unique<Impl>()) {
    acquired_ = true; // unless a check run holds the lock
    const std::string path = posix::StateFolder() + "/check-run.lock";
    std::string folder;
    if (const int error = posix::MakeParentFolders(path, folder); error != 0) {
        RunUnguarded(folder, std::strerror(error));
        return;
    }
    // Not following a link, and not blocking or taking a terminal should a device lie there.
    impl_->fd = posix::UniqueFd(
        ::open(path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC | O_NOFOLLOW | O_NONBLOCK | O_NOCTTY,
               kLockMode));
    if (!impl_->fd) {
        RunUnguarded(path, std::strerror(errno));
        return;
    }
    if (const std::string refused = MakePrivateLock(impl_->fd.get()); !refused.empty()) {
        impl_->fd.Close();
        RunUnguarded(path, refused);
        return;
    }
    // A holder that ends between the attempt and the look at the lock table is tried again.
    for (int attempt = 0; attempt < 3; ++attempt) {
        const int error = TryLock(impl_->fd.get());
        if (error == 0) {
            return;
        }
        if (error != EWOULDBLOCK) {
            RunUnguarded(path, std::strerror(error));
            return;
        }
        const posix::LockHolders holders = posix::WhoHoldsTheLock(impl_->fd.get());
        if (holders.checkRun) {
            acquired_ = false;
            return;
        }
        if (!holders.others.empty()) {
            RunUnguarded(path, "held by " + Join(holders.others) + ", not by a check run");
            return;
        }
    }
    RunUnguarded(path, "held, by no process the lock table names");
}

SingleInstance::~SingleInstance() = default;

void RemoveGuardFile() {}

} // namespace modGetExternalIP
