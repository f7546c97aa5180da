// POSIX loopback listener: one non-blocking socket on 127.0.0.1, poll for every wait.
#include "oauth/loopback_listener.h"

#include "common/posix_fd.h"

#include <arpa/inet.h>
#include <cerrno>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>

namespace oauth {

namespace {

bool WaitFor(int fd, short events, std::chrono::milliseconds span) {
    pollfd p{fd, events, 0};
    int n = 0;
    do {
        n = ::poll(&p, 1, static_cast<int>(span.count()));
    } while (n < 0 && errno == EINTR);
    return n > 0;
}

} // namespace

struct LoopbackListener::Impl {
    posix::UniqueFd listener;
    posix::UniqueFd client;
    std::uint16_t port = 0;
};

LoopbackListener::LoopbackListener() : impl_(std::make_unique<Impl>()) {
    posix::UniqueFd fd(::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0));
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t length = sizeof address;
    if (!fd || ::bind(fd.get(), reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 ||
        ::listen(fd.get(), 4) != 0 ||
        ::getsockname(fd.get(), reinterpret_cast<sockaddr*>(&address), &length) != 0) {
        return;
    }
    impl_->port = ntohs(address.sin_port);
    impl_->listener = std::move(fd);
}

LoopbackListener::~LoopbackListener() = default;

bool LoopbackListener::ok() const {
    return static_cast<bool>(impl_->listener);
}

std::uint16_t LoopbackListener::port() const {
    return impl_->port;
}

std::optional<std::string> LoopbackListener::NextRequest(std::chrono::milliseconds span) {
    impl_->client.Close();
    if (!ok() || !WaitFor(impl_->listener.get(), POLLIN, span)) {
        return std::nullopt;
    }
    posix::UniqueFd client(
        ::accept4(impl_->listener.get(), nullptr, nullptr, SOCK_CLOEXEC | SOCK_NONBLOCK));
    if (!client) {
        return std::nullopt;
    }
    const auto head =
        ReadRequestHead([&] { return WaitFor(client.get(), POLLIN, kConnectionWait); },
                        [&](char* buffer, std::size_t size) -> long {
                            const ssize_t n = ::recv(client.get(), buffer, size, 0);
                            return n < 0 && (errno == EAGAIN || errno == EINTR)
                                       ? kTransferAgain
                                       : static_cast<long>(n);
                        });
    if (!head) {
        return std::nullopt;
    }
    impl_->client = std::move(client);
    return RequestTarget(*head);
}

void LoopbackListener::Answer(int status, const std::string& html) {
    if (!impl_->client) {
        return;
    }
    WriteResponse(
        HtmlResponse(status, html),
        [&] { return WaitFor(impl_->client.get(), POLLOUT, kConnectionWait); },
        [&](const char* data, std::size_t size) -> long {
            const ssize_t n = ::send(impl_->client.get(), data, size, MSG_NOSIGNAL);
            return n < 0 && (errno == EAGAIN || errno == EINTR) ? kTransferAgain
                                                                : static_cast<long>(n);
        });
    impl_->client.Close();
}

} // namespace oauth
