// The byte stream under the SMTP client: a TCP connection, TLS from its first byte or from a
// STARTTLS on.
//
// The protocol code sees only this interface; each platform supplies one backend
// (smtp_transport_posix.cpp: BSD sockets, with OpenSSL in the TLS module loaded on demand;
// smtp_transport_win32.cpp: Winsock + Schannel). Every wait is bounded by a deadline. Failures come
// back as a VbError whose description says what the system reported; a backend never logs and never
// throws.
#pragma once

#include "common/vb_error.h"

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>

namespace modSendEmail {

using Deadline = std::chrono::steady_clock::time_point;
// No value on success.
using Failure = std::optional<VbError>;

// Error numbers of the delivery, as the log's second line shows them (signed 32-bit).
namespace smtp_errors {
inline constexpr long kSenderRejected = static_cast<std::int32_t>(0x8004020EU);
inline constexpr long kRecipientsRejected = static_cast<std::int32_t>(0x8004020FU);
inline constexpr long kSendFailed = static_cast<std::int32_t>(0x80040211U);
inline constexpr long kConnectionLost = static_cast<std::int32_t>(0x80040212U);
inline constexpr long kConnectFailed = static_cast<std::int32_t>(0x80040213U);
inline constexpr long kLogonFailed = static_cast<std::int32_t>(0x80040217U);
inline constexpr long kTimedOut = static_cast<std::int32_t>(0x80040218U);
inline constexpr long kSecureChannelFailed = static_cast<std::int32_t>(0x80040219U);
} // namespace smtp_errors

class SmtpTransport {
public:
    virtual ~SmtpTransport() = default;

    // Resolves host, connects to the first address that answers and, with tls, completes the
    // TLS (1.2 or later) handshake, verifying the server's certificate chain against the
    // system's trust store and its name against host. Errors: kConnectFailed (resolution,
    // refusal, unreachable), kTimedOut, kSecureChannelFailed (handshake, untrusted
    // certificate, name mismatch, old protocol).
    virtual Failure Connect(const std::string& host, const std::string& port, bool tls,
                            Deadline deadline) = 0;

    // Turns the connected plain stream into TLS, with the same handshake and checks as Connect
    // with tls. The caller has read everything the server sent before: any byte still to come
    // belongs to the handshake. Errors: kTimedOut, kConnectionLost, kSecureChannelFailed.
    virtual Failure StartTls(const std::string& host, Deadline deadline) = 0;

    // Reads at least one byte into buffer; 0 means the server closed the connection.
    // Errors: kConnectionLost, kTimedOut, kSecureChannelFailed.
    virtual Outcome<std::size_t> Read(char* buffer, std::size_t size, Deadline deadline) = 0;

    // Writes all of data. Errors: kConnectionLost, kTimedOut, kSecureChannelFailed.
    virtual Failure Write(std::string_view data, Deadline deadline) = 0;

    // This machine's name for the greeting, or the empty text.
    virtual std::string LocalHostName() = 0;
};

// The platform's backend.
std::unique_ptr<SmtpTransport> MakeSmtpTransport();

} // namespace modSendEmail
