// POSIX backend of SmtpTransport: BSD sockets, TLS through OpenSSL.
//
// Only POSIX and OpenSSL live here. The socket is non-blocking throughout so that every wait is
// a poll() bounded by the caller's deadline; the trust store is OpenSSL's default, which honours
// SSL_CERT_FILE and SSL_CERT_DIR.
#include "mail/smtp_transport.h"

#include <arpa/inet.h>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <netdb.h>
#include <netinet/in.h>
#include <openssl/err.h>
#include <openssl/ssl.h>
#include <openssl/x509v3.h>
#include <poll.h>
#include <pthread.h>
#include <signal.h>
#include <sys/socket.h>
#include <unistd.h>

#include <utility>

namespace modSendEmail {

namespace {

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

struct AddrInfoFree {
    void operator()(addrinfo* a) const { freeaddrinfo(a); }
};
struct SslCtxFree {
    void operator()(SSL_CTX* c) const { SSL_CTX_free(c); }
};
struct SslFree {
    void operator()(SSL* s) const { SSL_free(s); }
};

// A write to a socket the server has closed must fail, not kill the process with SIGPIPE;
// OpenSSL writes with write(), so the signal is held back for this thread meanwhile.
class SigpipeGuard {
public:
    SigpipeGuard() {
        sigset_t pipe;
        sigemptyset(&pipe);
        sigaddset(&pipe, SIGPIPE);
        sigset_t pending;
        sigpending(&pending);
        wasPending_ = sigismember(&pending, SIGPIPE) == 1;
        pthread_sigmask(SIG_BLOCK, &pipe, &old_);
    }
    ~SigpipeGuard() {
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
    SigpipeGuard(const SigpipeGuard&) = delete;
    SigpipeGuard& operator=(const SigpipeGuard&) = delete;

private:
    sigset_t old_;
    bool wasPending_ = false;
};

int RemainingMs(Deadline deadline) {
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
        deadline - std::chrono::steady_clock::now());
    return left.count() <= 0 ? 0 : static_cast<int>(std::min<long long>(left.count(), 1 << 30));
}

// Waits until fd is ready for events; false at the deadline.
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

std::string OpenSslErrors() {
    std::string text;
    while (const unsigned long e = ERR_get_error()) {
        char buffer[256];
        ERR_error_string_n(e, buffer, sizeof buffer);
        if (!text.empty()) {
            text += "; ";
        }
        text += buffer;
    }
    return text;
}

VbError SecureChannelError(const char* what, const std::string& detail) {
    std::string d = std::string("The secure connection to the server failed: ") + what;
    if (!detail.empty()) {
        d += " (" + detail + ")";
    }
    return {smtp_errors::kSecureChannelFailed, d};
}

bool IsAddressLiteral(const std::string& host) {
    in6_addr a6;
    in_addr a4;
    return inet_pton(AF_INET, host.c_str(), &a4) == 1 ||
           inet_pton(AF_INET6, host.c_str(), &a6) == 1;
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

    Outcome<std::size_t> Read(char* buffer, std::size_t size, Deadline deadline) override {
        for (;;) {
            if (ssl_) {
                ERR_clear_error();
                const int n = SSL_read(ssl_.get(), buffer, static_cast<int>(size));
                if (n > 0) {
                    return static_cast<std::size_t>(n);
                }
                const int e = SSL_get_error(ssl_.get(), n);
                if (e == SSL_ERROR_ZERO_RETURN || (e == SSL_ERROR_SYSCALL && errno == 0)) {
                    return std::size_t{0};
                }
                if (e == SSL_ERROR_SYSCALL) {
                    return Lost(errno);
                }
                if (e != SSL_ERROR_WANT_READ && e != SSL_ERROR_WANT_WRITE) {
                    return SecureChannelError("read", OpenSslErrors());
                }
                if (!WaitFor(socket_.get(), e == SSL_ERROR_WANT_READ ? POLLIN : POLLOUT,
                             deadline)) {
                    return TimedOut();
                }
                continue;
            }
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
        SigpipeGuard guard;
        while (!data.empty()) {
            if (ssl_) {
                ERR_clear_error();
                const int n =
                    SSL_write(ssl_.get(), data.data(),
                              static_cast<int>(std::min<std::size_t>(data.size(), 1 << 20)));
                if (n > 0) {
                    data.remove_prefix(static_cast<std::size_t>(n));
                    continue;
                }
                const int e = SSL_get_error(ssl_.get(), n);
                if (e == SSL_ERROR_SYSCALL || e == SSL_ERROR_ZERO_RETURN) {
                    return Lost(errno != 0 ? errno : EPIPE);
                }
                if (e != SSL_ERROR_WANT_READ && e != SSL_ERROR_WANT_WRITE) {
                    return SecureChannelError("write", OpenSslErrors());
                }
                if (!WaitFor(socket_.get(), e == SSL_ERROR_WANT_READ ? POLLIN : POLLOUT,
                             deadline)) {
                    return TimedOut();
                }
                continue;
            }
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

    ~PosixTransport() override {
        if (ssl_) {
            SigpipeGuard guard;
            SSL_shutdown(ssl_.get()); // one close_notify, no wait for the answer
        }
    }

private:
    Failure ConnectTcp(const std::string& host, const std::string& port, Deadline deadline) {
        addrinfo hints{};
        hints.ai_family = AF_UNSPEC;
        hints.ai_socktype = SOCK_STREAM;
        hints.ai_flags = AI_ADDRCONFIG;
        addrinfo* found = nullptr;
        const int rc = ::getaddrinfo(host.c_str(), port.c_str(), &hints, &found);
        if (rc != 0) {
            return VbError{smtp_errors::kConnectFailed,
                           "The transport failed to connect to the server. " + host + ":" + port +
                               ": " + gai_strerror(rc)};
        }
        std::unique_ptr<addrinfo, AddrInfoFree> list(found);
        int lastError = ECONNREFUSED;
        for (const addrinfo* a = list.get(); a != nullptr; a = a->ai_next) {
            Socket s(::socket(a->ai_family, a->ai_socktype | SOCK_NONBLOCK | SOCK_CLOEXEC,
                              a->ai_protocol));
            if (s.get() < 0) {
                lastError = errno;
                continue;
            }
            if (::connect(s.get(), a->ai_addr, a->ai_addrlen) != 0) {
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

    Failure StartTls(const std::string& host, Deadline deadline) {
        ctx_.reset(SSL_CTX_new(TLS_client_method()));
        if (!ctx_ || SSL_CTX_set_min_proto_version(ctx_.get(), TLS1_2_VERSION) != 1 ||
            SSL_CTX_set_default_verify_paths(ctx_.get()) != 1) {
            return SecureChannelError("set-up", OpenSslErrors());
        }
        SSL_CTX_set_verify(ctx_.get(), SSL_VERIFY_PEER, nullptr);
        SSL_CTX_set_options(ctx_.get(), SSL_OP_IGNORE_UNEXPECTED_EOF);
        ssl_.reset(SSL_new(ctx_.get()));
        if (!ssl_ || SSL_set_fd(ssl_.get(), socket_.get()) != 1) {
            return SecureChannelError("set-up", OpenSslErrors());
        }
        X509_VERIFY_PARAM* param = SSL_get0_param(ssl_.get());
        if (IsAddressLiteral(host)) {
            if (X509_VERIFY_PARAM_set1_ip_asc(param, host.c_str()) != 1) {
                return SecureChannelError("set-up", OpenSslErrors());
            }
        } else {
            X509_VERIFY_PARAM_set_hostflags(param, X509_CHECK_FLAG_NO_PARTIAL_WILDCARDS);
            if (SSL_set1_host(ssl_.get(), host.c_str()) != 1 ||
                SSL_set_tlsext_host_name(ssl_.get(), host.c_str()) != 1) {
                return SecureChannelError("set-up", OpenSslErrors());
            }
        }
        SigpipeGuard guard;
        for (;;) {
            ERR_clear_error();
            const int rc = SSL_connect(ssl_.get());
            if (rc == 1) {
                return std::nullopt;
            }
            const int e = SSL_get_error(ssl_.get(), rc);
            if (e == SSL_ERROR_WANT_READ || e == SSL_ERROR_WANT_WRITE) {
                if (!WaitFor(socket_.get(), e == SSL_ERROR_WANT_READ ? POLLIN : POLLOUT,
                             deadline)) {
                    return TimedOut();
                }
                continue;
            }
            const long verify = SSL_get_verify_result(ssl_.get());
            std::string detail = OpenSslErrors();
            ssl_.reset();
            if (verify != X509_V_OK) {
                return SecureChannelError("the server's certificate was not accepted",
                                          X509_verify_cert_error_string(verify));
            }
            if (e == SSL_ERROR_SYSCALL && detail.empty()) {
                detail = errno != 0 ? std::strerror(errno) : "connection closed";
            }
            return SecureChannelError("handshake", detail);
        }
    }

    Socket socket_;
    std::unique_ptr<SSL_CTX, SslCtxFree> ctx_;
    std::unique_ptr<SSL, SslFree> ssl_;
};

} // namespace

std::unique_ptr<SmtpTransport> MakeSmtpTransport() {
    return std::make_unique<PosixTransport>();
}

} // namespace modSendEmail
