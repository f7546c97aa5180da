// The contract between the program and its TLS module (POSIX): the module links the TLS library
// and exports one entry point that makes a TLS client session over a connected socket. The
// program loads it only when a connection needs TLS, so a run without mail over TLS never maps
// the TLS library.
#pragma once

#include "mail/smtp_transport.h"

#include <cstddef>
#include <memory>
#include <string>
#include <string_view>

namespace modSendEmail {

inline constexpr const char* kTlsModuleFile = "libaddrwatch_tls.so";
inline constexpr const char* kTlsModuleEntry = "addrwatch_tls_session";

// TLS over a connected non-blocking socket that the caller keeps owning (and closes after the
// session is gone). Errors as SmtpTransport describes them.
class TlsSession {
public:
    virtual ~TlsSession() = default; // a handshaken session sends its close_notify

    // TLS 1.2 or later, the chain verified against the system's trust store and the name against
    // host (an address literal against the certificate's addresses).
    virtual Failure Handshake(const std::string& host, Deadline deadline) = 0;
    virtual Outcome<std::size_t> Read(char* buffer, std::size_t size, Deadline deadline) = 0;
    virtual Failure Write(std::string_view data, Deadline deadline) = 0;
};

// The entry point: stores a session over socket in *session.
using TlsModuleEntry = void (*)(int socket, std::unique_ptr<TlsSession>* session);

} // namespace modSendEmail
