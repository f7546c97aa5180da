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

constexpr std::size_t kMaxHead = 16 * 1024;
constexpr std::chrono::milliseconds kReadBound{5000};

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
    std::string head;
    char buffer[2048];
    while (head.find("\r\n\r\n") == std::string::npos && head.size() < kMaxHead) {
        if (!WaitFor(client.get(), POLLIN, kReadBound)) {
            return std::nullopt;
        }
        const ssize_t n = ::recv(client.get(), buffer, sizeof buffer, 0);
        if (n <= 0) {
            if (n < 0 && (errno == EAGAIN || errno == EINTR)) {
                continue;
            }
            break;
        }
        head.append(buffer, static_cast<std::size_t>(n));
    }
    impl_->client = std::move(client);
    return RequestTarget(head);
}

void LoopbackListener::Answer(int status, const std::string& html) {
    if (!impl_->client) {
        return;
    }
    const std::string response = HtmlResponse(status, html);
    std::size_t sent = 0;
    while (sent < response.size() && WaitFor(impl_->client.get(), POLLOUT, kReadBound)) {
        const ssize_t n = ::send(impl_->client.get(), response.data() + sent,
                                 response.size() - sent, MSG_NOSIGNAL);
        if (n <= 0 && !(n < 0 && (errno == EAGAIN || errno == EINTR))) {
            break;
        }
        sent += n > 0 ? static_cast<std::size_t>(n) : 0;
    }
    impl_->client.Close();
}

} // namespace oauth
