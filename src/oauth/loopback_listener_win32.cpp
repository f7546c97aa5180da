// Windows loopback listener: Winsock, select for every wait.
#include "oauth/loopback_listener.h"

#include "common/winsock_session.h"

namespace oauth {

namespace {

class Socket {
public:
    explicit Socket(SOCKET s = INVALID_SOCKET) : s_(s) {}
    ~Socket() { Close(); }
    Socket(const Socket&) = delete;
    Socket& operator=(const Socket&) = delete;
    Socket& operator=(Socket&& o) noexcept {
        if (this != &o) {
            Close();
            s_ = o.s_;
            o.s_ = INVALID_SOCKET;
        }
        return *this;
    }
    SOCKET get() const { return s_; }
    explicit operator bool() const { return s_ != INVALID_SOCKET; }
    void Close() {
        if (s_ != INVALID_SOCKET) {
            ::closesocket(s_);
            s_ = INVALID_SOCKET;
        }
    }

private:
    SOCKET s_;
};

bool WaitFor(SOCKET s, bool write, std::chrono::milliseconds span) {
    fd_set set;
    FD_ZERO(&set);
    FD_SET(s, &set);
    timeval tv{static_cast<long>(span.count() / 1000),
               static_cast<long>(span.count() % 1000) * 1000};
    return ::select(0, write ? nullptr : &set, write ? &set : nullptr, nullptr, &tv) > 0;
}

} // namespace

struct LoopbackListener::Impl {
    win32::WinsockSession winsock;
    Socket listener;
    Socket client;
    std::uint16_t port = 0;
};

LoopbackListener::LoopbackListener() : impl_(std::make_unique<Impl>()) {
    if (!impl_->winsock.ok()) {
        return;
    }
    Socket s(::socket(AF_INET, SOCK_STREAM, IPPROTO_TCP));
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    int length = sizeof address;
    BOOL exclusive = TRUE;
    // No other program may bind the same port and take the redirect.
    if (!s ||
        ::setsockopt(s.get(), SOL_SOCKET, SO_EXCLUSIVEADDRUSE,
                     reinterpret_cast<const char*>(&exclusive), sizeof exclusive) != 0 ||
        ::bind(s.get(), reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 ||
        ::listen(s.get(), 4) != 0 ||
        ::getsockname(s.get(), reinterpret_cast<sockaddr*>(&address), &length) != 0) {
        return;
    }
    impl_->port = ntohs(address.sin_port);
    impl_->listener = std::move(s);
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
    if (!ok() || !WaitFor(impl_->listener.get(), false, span)) {
        return std::nullopt;
    }
    Socket client(::accept(impl_->listener.get(), nullptr, nullptr));
    if (!client) {
        return std::nullopt;
    }
    const auto head =
        ReadRequestHead([&] { return WaitFor(client.get(), false, kConnectionWait); },
                        [&](char* buffer, std::size_t size) -> long {
                            const int n = ::recv(client.get(), buffer, static_cast<int>(size), 0);
                            return n < 0 ? kTransferEnd : static_cast<long>(n);
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
        [&] { return WaitFor(impl_->client.get(), true, kConnectionWait); },
        [&](const char* data, std::size_t size) -> long {
            const int n = ::send(impl_->client.get(), data, static_cast<int>(size), 0);
            return n < 0 ? kTransferEnd : static_cast<long>(n);
        });
    impl_->client.Close();
}

} // namespace oauth
