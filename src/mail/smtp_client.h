// The SMTP client: one message, one connection, over any SmtpTransport.
//
// Greeting, EHLO (HELO when EHLO is refused), AUTH PLAIN or LOGIN as offered (only when asked
// for), MAIL FROM, one RCPT TO per address, DATA, QUIT. Any 4xx/5xx, a closed connection or a
// timeout ends the attempt with an error whose description carries the server's reply,
// sanitised. The password never appears in an error.
#pragma once

#include "mail/message.h"
#include "mail/smtp_transport.h"

#include <chrono>
#include <string>
#include <string_view>
#include <vector>

namespace modSendEmail {

// The eight delivery settings.
struct SmtpConfig {
    std::string server;
    std::chrono::milliseconds connectionTimeout = kConnectionTimeout;
    int sendUsing = 2; // over the network; the only way this client knows
    std::string port;
    bool authenticate = false;
    bool useSsl = false;
    std::string userName;
    std::string password;
};

// One server reply: its code and its lines' texts.
struct SmtpReply {
    int code = 0;
    std::vector<std::string> lines;
    std::string Text() const; // the lines joined by CRLF
};

// Collects reply lines until the last one ("ddd text" after "ddd-text" lines).
class SmtpReplyParser {
public:
    enum class State { NeedMore, Complete, Malformed };
    // Feeds bytes; returns Complete when a reply is whole (bytes after it stay for the next).
    State Feed(std::string_view bytes);
    // The finished reply; resets the parser for the next one.
    SmtpReply Take();
    std::string_view Pending() const { return buffer_; }

private:
    std::string buffer_;
    SmtpReply reply_;
    bool haveCode_ = false;
};

// Sends message through transport. Errors: those of SmtpTransport, and kSenderRejected,
// kRecipientsRejected, kLogonFailed, kSendFailed (any other refusal or a reply that is not
// SMTP), kConnectionLost (the server closed the connection).
Failure SendSmtpMessage(const SmtpConfig& config, const NotificationMessage& message,
                        SmtpTransport& transport);

} // namespace modSendEmail
