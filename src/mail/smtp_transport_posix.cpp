// POSIX backend of SmtpTransport: BSD sockets; TLS through the TLS module (OpenSSL), loaded
// on the first connection that needs it.
//
// Only POSIX lives here. The socket is non-blocking throughout so that every wait is a poll()
// bounded by the caller's deadline.
#include "mail/smtp_transport.h"

#include "common/module_loader_posix.h"
#include "common/resolve_posix.h"
#include "mail/socket_wait_posix.h"
#include "mail/tls_module.h"

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <netdb.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <optional>
#include <utility>

namespace modSendEmail {

namespace {

using posix::Lost;
using posix::TimedOut;
using posix::WaitFor;

class Socket {
public:
    Socket() = default;
    explicit Socket(int fd) : fd_(fd) {}
    Socket(const Socket&) = delete;
    Socket& operator=(const Socket&) = delete;
    Socket(Socket&& o) noexcept : fd_(std::exchange(o.fd_, -1)) {}
    Socket& operator=(Socket&& o) noexcept {
        if (this != &o) {
            reset(std::exchange(o.fd_, -1));
        }
        return *this;
    }
    ~Socket() { reset(); }
    int get() const { return fd_; }
    void reset(int fd = -1) {
        if (fd_ >= 0) {
            ::close(fd_);
        }
        fd_ = fd;
    }

private:
    int fd_ = -1;
};

VbError SecureChannelError(const std::string& what) {
    return {smtp_errors::kSecureChannelFailed,
            "The secure connection to the server failed: " + what};
}

// The module's entry point, or why there is none. The module stays loaded for the life of the
// process once it was needed, as the TLS library cannot be unloaded safely.
Outcome<TlsModuleEntry> LoadTlsModule() {
    static const Outcome<TlsModuleEntry> entry = []() -> Outcome<TlsModuleEntry> {
        std::string reason;
        if (void* symbol = ::posix::LoadProgramModule(kTlsModuleFile, kTlsModuleEntry, reason)) {
            return reinterpret_cast<TlsModuleEntry>(symbol);
        }
        return SecureChannelError("the TLS module cannot be loaded: " + reason);
    }();
    return entry;
}

class PosixTransport final : public SmtpTransport {
public:
    Failure Connect(const std::string& host, const std::string& port, bool tls,
                    Deadline deadline) override {
        if (Failure f = ConnectTcp(host, port, deadline)) {
            return f;
        }
        return tls ? StartTls(host, deadline) : std::nullopt;
    }

    Failure StartTls(const std::string& host, Deadline deadline) override {
        if (tls_ || socket_.get() < 0) {
            return SecureChannelError("set-up: no plain connection to secure");
        }
        Outcome<TlsModuleEntry> entry = LoadTlsModule();
        if (!entry) {
            return entry.error();
        }
        std::unique_ptr<TlsSession> session;
        entry.value()(socket_.get(), &session);
        if (Failure f = session->Handshake(host, deadline)) {
            return f;
        }
        tls_ = std::move(session);
        return std::nullopt;
    }

    Outcome<std::size_t> Read(char* buffer, std::size_t size, Deadline deadline) override {
        if (tls_) {
            return tls_->Read(buffer, size, deadline);
        }
        for (;;) {
            const ssize_t n = ::recv(socket_.get(), buffer, size, 0);
            if (n >= 0) {
                return static_cast<std::size_t>(n);
            }
            if (errno == EINTR) {
                continue;
            }
            if (errno != EAGAIN && errno != EWOULDBLOCK) {
                return Lost(errno);
            }
            if (!WaitFor(socket_.get(), POLLIN, deadline)) {
                return TimedOut();
            }
        }
    }

    Failure Write(std::string_view data, Deadline deadline) override {
        if (tls_) {
            return tls_->Write(data, deadline);
        }
        while (!data.empty()) {
            const ssize_t n = ::send(socket_.get(), data.data(), data.size(), MSG_NOSIGNAL);
            if (n >= 0) {
                data.remove_prefix(static_cast<std::size_t>(n));
                continue;
            }
            if (errno == EINTR) {
                continue;
            }
            if (errno != EAGAIN && errno != EWOULDBLOCK) {
                return Lost(errno);
            }
            if (!WaitFor(socket_.get(), POLLOUT, deadline)) {
                return TimedOut();
            }
        }
        return std::nullopt;
    }

    std::string LocalHostName() override {
        char name[256] = {};
        return ::gethostname(name, sizeof name - 1) == 0 ? std::string(name) : std::string();
    }

private:
    Failure ConnectTcp(const std::string& host, const std::string& port, Deadline deadline) {
        const ::posix::Resolution found =
            ::posix::ResolveStream(host, port, deadline, AI_ADDRCONFIG);
        if (found.timedOut) {
            return TimedOut();
        }
        if (found.error != 0) {
            return VbError{smtp_errors::kConnectFailed,
                           "The transport failed to connect to the server. " + host + ":" + port +
                               ": " + gai_strerror(found.error)};
        }
        int lastError = ECONNREFUSED;
        for (const ::posix::ResolvedAddress& a : found.addresses) {
            Socket s(::socket(a.family, a.socktype | SOCK_NONBLOCK | SOCK_CLOEXEC, a.protocol));
            if (s.get() < 0) {
                lastError = errno;
                continue;
            }
            if (::connect(s.get(), reinterpret_cast<const sockaddr*>(&a.address), a.length) != 0) {
                if (errno != EINPROGRESS) {
                    lastError = errno;
                    continue;
                }
                if (!WaitFor(s.get(), POLLOUT, deadline)) {
                    return TimedOut();
                }
                int err = 0;
                socklen_t len = sizeof err;
                ::getsockopt(s.get(), SOL_SOCKET, SO_ERROR, &err, &len);
                if (err != 0) {
                    lastError = err;
                    continue;
                }
            }
            socket_ = std::move(s);
            return std::nullopt;
        }
        return VbError{smtp_errors::kConnectFailed,
                       "The transport failed to connect to the server. " + host + ":" + port +
                           ": " + std::strerror(lastError)};
    }

    // Declared after the socket, so the session (and its close_notify) ends first.
    Socket socket_;
    std::unique_ptr<TlsSession> tls_;
};

} // namespace

std::unique_ptr<SmtpTransport> MakeSmtpTransport() {
    return std::make_unique<PosixTransport>();
}

} // namespace modSendEmail
