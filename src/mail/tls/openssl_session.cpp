// The TLS module's session: OpenSSL over the program's socket. Only OpenSSL and POSIX live
// here; the trust store is OpenSSL's default, which honours SSL_CERT_FILE and SSL_CERT_DIR.
#include "mail/socket_wait_posix.h"
#include "mail/tls_module.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <openssl/err.h>
#include <openssl/ssl.h>
#include <openssl/x509v3.h>
#include <poll.h>

#include <algorithm>
#include <cerrno>
#include <cstring>

namespace modSendEmail {

namespace {

using posix::Lost;
using posix::SigpipeGuard;
using posix::TimedOut;
using posix::WaitFor;

struct SslCtxFree {
    void operator()(SSL_CTX* c) const { SSL_CTX_free(c); }
};
struct SslFree {
    void operator()(SSL* s) const { SSL_free(s); }
};

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

class OpenSslSession final : public TlsSession {
public:
    explicit OpenSslSession(int socket) : socket_(socket) {}

    ~OpenSslSession() override {
        if (ssl_) {
            SigpipeGuard guard;
            SSL_shutdown(ssl_.get()); // one close_notify, no wait for the answer
        }
    }

    Failure Handshake(const std::string& host, Deadline deadline) override {
        ctx_.reset(SSL_CTX_new(TLS_client_method()));
        if (!ctx_ || SSL_CTX_set_min_proto_version(ctx_.get(), TLS1_2_VERSION) != 1 ||
            SSL_CTX_set_default_verify_paths(ctx_.get()) != 1) {
            return SecureChannelError("set-up", OpenSslErrors());
        }
        SSL_CTX_set_verify(ctx_.get(), SSL_VERIFY_PEER, nullptr);
        SSL_CTX_set_options(ctx_.get(), SSL_OP_IGNORE_UNEXPECTED_EOF);
        ssl_.reset(SSL_new(ctx_.get()));
        if (!ssl_ || SSL_set_fd(ssl_.get(), socket_) != 1) {
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
                if (!WaitFor(socket_, e == SSL_ERROR_WANT_READ ? POLLIN : POLLOUT, deadline)) {
                    ssl_.reset();
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

    Outcome<std::size_t> Read(char* buffer, std::size_t size, Deadline deadline) override {
        for (;;) {
            ERR_clear_error();
            const int n = SSL_read(ssl_.get(), buffer,
                                   static_cast<int>(std::min<std::size_t>(size, 1 << 20)));
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
            if (!WaitFor(socket_, e == SSL_ERROR_WANT_READ ? POLLIN : POLLOUT, deadline)) {
                return TimedOut();
            }
        }
    }

    Failure Write(std::string_view data, Deadline deadline) override {
        SigpipeGuard guard;
        while (!data.empty()) {
            ERR_clear_error();
            const int n = SSL_write(ssl_.get(), data.data(),
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
            if (!WaitFor(socket_, e == SSL_ERROR_WANT_READ ? POLLIN : POLLOUT, deadline)) {
                return TimedOut();
            }
        }
        return std::nullopt;
    }

private:
    int socket_;
    std::unique_ptr<SSL_CTX, SslCtxFree> ctx_;
    std::unique_ptr<SSL, SslFree> ssl_;
};

} // namespace

} // namespace modSendEmail

extern "C" __attribute__((visibility("default"))) void
addrwatch_tls_session(int socket, std::unique_ptr<modSendEmail::TlsSession>* session) {
    *session = std::make_unique<modSendEmail::OpenSslSession>(socket);
}
