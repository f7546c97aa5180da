#include "mail/socket_wait_posix.h"

#include <poll.h>
#include <pthread.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <string>

namespace modSendEmail::posix {

namespace {

int RemainingMs(Deadline deadline) {
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
        deadline - std::chrono::steady_clock::now());
    return left.count() <= 0 ? 0 : static_cast<int>(std::min<long long>(left.count(), 1 << 30));
}

} // namespace

bool WaitFor(int fd, short events, Deadline deadline) {
    for (;;) {
        pollfd p{fd, events, 0};
        const int n = ::poll(&p, 1, RemainingMs(deadline));
        if (n > 0) {
            return true;
        }
        if (n == 0) {
            return false;
        }
        if (errno != EINTR) {
            return true; // let the next call report the error
        }
    }
}

VbError TimedOut() {
    return {smtp_errors::kTimedOut, "The server did not answer in time."};
}

VbError Lost(int err) {
    return {smtp_errors::kConnectionLost,
            std::string("The transport lost its connection to the server. ") + std::strerror(err)};
}

SigpipeGuard::SigpipeGuard() {
    sigset_t pipe;
    sigemptyset(&pipe);
    sigaddset(&pipe, SIGPIPE);
    sigset_t pending;
    sigpending(&pending);
    wasPending_ = sigismember(&pending, SIGPIPE) == 1;
    pthread_sigmask(SIG_BLOCK, &pipe, &old_);
}

SigpipeGuard::~SigpipeGuard() {
    sigset_t pending;
    sigpending(&pending);
    if (!wasPending_ && sigismember(&pending, SIGPIPE) == 1) {
        sigset_t pipe;
        sigemptyset(&pipe);
        sigaddset(&pipe, SIGPIPE);
        const timespec zero{0, 0};
        sigtimedwait(&pipe, nullptr, &zero);
    }
    pthread_sigmask(SIG_SETMASK, &old_, nullptr);
}

} // namespace modSendEmail::posix
