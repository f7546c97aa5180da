// Who holds the check run's lock (POSIX): a run that finds the lock taken must tell a check run
// in progress from another user's process sitting on it. Include only from *_posix.cpp files.
#pragma once

#include <string>
#include <string_view>
#include <sys/types.h>
#include <vector>

namespace posix {

// The processes holding a flock (shared or exclusive) on the file (device, inode), from the text
// of /proc/locks. Processes waiting for it hold nothing and are not listed.
std::vector<pid_t> FlockHolders(std::string_view procLocks, dev_t device, ino_t inode);

// Empty when process pid is a check run: alive, running as this process's effective user and
// running this very program. Otherwise what it is instead, for the diagnostic message.
std::string NotACheckRun(pid_t pid);

struct LockHolders {
    bool checkRun = false;           // a check run holds the lock
    std::vector<std::string> others; // every other holder, as NotACheckRun describes it
};

// Who holds a flock on the file behind fd. Without /proc/locks, one "other" saying so: a holder
// that cannot be told from a squatter is not trusted to stop a run.
LockHolders WhoHoldsTheLock(int fd);

} // namespace posix
