// The SMTP client: one message, one connection, over any SmtpTransport.
//
// Greeting, EHLO (HELO when EHLO is refused), STARTTLS and EHLO again when asked for, AUTH PLAIN
// or LOGIN as offered, or XOAUTH2 with an access token (only when asked for), MAIL FROM, one
// RCPT TO per address, DATA, QUIT. An AUTH line with its initial response stays within SMTP's
// 512-octet command limit: a longer response follows the server's empty 334 instead.
// Only a 2xx reply completes a step (354 answers DATA). Any other reply, a closed connection or
// a timeout ends the attempt with an error whose description carries the server's reply,
// sanitised. The password and the access token never appear in an error, nor does a server's
// echo of them.
#pragma once

#include "mail/connection_security.h"
#include "mail/message.h"
#include "mail/smtp_reply.h"
#include "mail/smtp_transport.h"

#include <chrono>
#include <functional>
#include <string>

namespace modSendEmail {

// The whole session, connection to QUIT, ends within this, whatever each wait has left.
inline constexpr std::chrono::milliseconds kSessionLimit = std::chrono::minutes(5);

// How the client logs on when it authenticates.
enum class SmtpLogon {
    Password, // AUTH PLAIN, else LOGIN, as the server offers: userName and password
    XOAuth2,  // AUTH XOAUTH2: userName is the account the token was issued for
};

// The delivery settings.
struct SmtpConfig {
    std::string server;
    std::chrono::milliseconds connectionTimeout = kConnectionTimeout; // each wait
    int sendUsing = 2; // over the network; the only way this client knows
    std::string port;
    bool authenticate = false;
    ConnectionSecurity security = ConnectionSecurity::Plain;
    std::string userName;
    std::string password;
    SmtpLogon logon = SmtpLogon::Password;
    std::string accessToken;                                // the bearer token of an XOAuth2 logon
    std::chrono::milliseconds sessionLimit = kSessionLimit; // all the waits together
    // The time the deadlines are reckoned in; the steady clock unless a test steers time.
    std::function<Deadline()> clock;
};

// Sends message through transport. Errors: those of SmtpTransport, and kSenderRejected,
// kRecipientsRejected, kLogonFailed, kSendFailed (any other refusal, a reply that is not
// SMTP or one longer than kMaxReplyBytes), kTimedOut (also when the session outlasts its
// limit), kConnectionLost (the server closed the connection), kSecureChannelFailed (STARTTLS
// not offered or refused, or bytes ahead of its handshake: then nothing more is sent in plain
// text but QUIT). onAccepted, when given, runs as soon as the server has accepted the message,
// before the courtesy QUIT, so a caller can record the delivery before anything else can stop it.
Failure SendSmtpMessage(const SmtpConfig& config, const NotificationMessage& message,
                        SmtpTransport& transport, const std::function<void()>& onAccepted = {});

} // namespace modSendEmail
