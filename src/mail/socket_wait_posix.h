// Waits and errors of the POSIX socket code that the program and its TLS module share.
#pragma once

#include "mail/smtp_transport.h"

#include <signal.h>

namespace modSendEmail::posix {

// Waits until fd is ready for events (poll() flags); false at the deadline.
bool WaitFor(int fd, short events, Deadline deadline);

VbError TimedOut();
VbError Lost(int err);

// A write to a socket the server has closed must fail, not kill the process with SIGPIPE; the
// TLS library writes with write(), so the signal is held back for this thread meanwhile.
class SigpipeGuard {
public:
    SigpipeGuard();
    ~SigpipeGuard();
    SigpipeGuard(const SigpipeGuard&) = delete;
    SigpipeGuard& operator=(const SigpipeGuard&) = delete;

private:
    sigset_t old_;
    bool wasPending_ = false;
};

} // namespace modSendEmail::posix
