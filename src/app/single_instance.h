// The machine-wide guard that lets one check run at a time, one that a standard user cannot take
// first. Windows: the file check-run.lock in the program's folder, which only SYSTEM and
// Administrators may open, held open without sharing. POSIX: a lock on a file in the state
// folder. The system releases either when its holder ends, however it ends, so a crashed run
// never blocks the next.
#pragma once

#include <chrono>
#include <memory>

namespace modGetExternalIP {

class SingleInstance {
public:
    // Tries once, without waiting.
    SingleInstance();
    ~SingleInstance();
    SingleInstance(const SingleInstance&) = delete;
    SingleInstance& operator=(const SingleInstance&) = delete;

    // False only when another holder has it. A guard the system cannot provide (no state
    // folder, a lock file that cannot be opened or is no plain file) does not stop the run: its
    // diagnostic message says so.
    bool Acquired() const { return acquired_; }

    struct Impl;

private:
    std::unique_ptr<Impl> impl_;
    bool acquired_ = false;
};

// The guard for work outside a check run that must not overlap one (the window's renewal of an
// OAuth token, which a check run may be rotating): tries again until the guard is acquired or wait
// has passed, and returns the last attempt either way.
std::unique_ptr<SingleInstance> AwaitSingleInstance(std::chrono::milliseconds wait);

// For a removal that takes the program's data too. Windows: deletes check-run.lock beside the
// program, unless a run holds it. POSIX: nothing; the state folder's lock is never unlinked (a run
// may hold a lock on that inode) and goes with the package's purge of that folder.
void RemoveGuardFile();

} // namespace modGetExternalIP
