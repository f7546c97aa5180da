// modSendEmail: the e-mail settings, the notification message and its delivery over SMTP.
#pragma once

#include "common/vb_error.h"

#include <chrono>
#include <functional>
#include <optional>
#include <string>

namespace modSendEmail {

struct NotificationMessage;

// The e-mail settings record of section "EmailConfig", with the password in clear.
struct EmailSettingsRecord {
    std::string SMTPServer;
    std::string SMTPPort; // decimal text, handed on as read
    std::string SMTPUserName;
    std::string SMTPPassword;
    std::string FromEmail;
    std::string ToEmail;
    bool UseSSL = false;
    bool SMTPAuth = false;
    std::optional<bool> StartTLS; // no value when the key is missing or empty (StartTlsSetting)
    std::string Subject;
};

// The process-wide record that LoadEmailConfig fills.
extern EmailSettingsRecord EmailSettings;

// Loads EmailSettings from section "EmailConfig" of sAppINI, starting from a clean record. True
// when server, port, sender and recipient are all present. Errors: 13 or 6 for a non-empty
// check-box value (UseSSL, SMTPAuth) that is not a 16-bit number (the fields read before it keep
// their new values), the error of DecryptText for a password that cannot be decrypted.
Outcome<bool> LoadEmailConfig();

// The wait for the connection and for each server reply.
inline constexpr std::chrono::milliseconds kConnectionTimeout{60000};

// Sends the notification for the new address. True when the settings were complete and the
// message was accepted by the server; false otherwise, with the log lines of the failure.
// With an OAuth provider set, the access token is renewed first: the caller holds the check-run
// guard (see OAuthLogon).
// onAccepted, when given, runs the moment the server accepts the message (before the session's
// courtesy end), so the caller's record of the delivery does not wait on the server's goodbye.
bool SendEmail(const std::string& sNewIP, const std::function<void()>& onAccepted = {});
// The same with another connection timeout (which bounds the token request too); for tests that
// need a silent server to give up soon.
bool SendEmail(const std::string& sNewIP, std::chrono::milliseconds timeout,
               const std::function<void()>& onAccepted = {});

// Sends a notice whose body is sLines and the footer (ComposeNotice); otherwise as SendEmail,
// failure as below.
bool SendNotice(const std::string& sLines, const std::function<void()>& onAccepted,
                VbError& failure);
// The same, handing back why the notice did not go out: failure gets the delivery's error, or
// number 0 when the settings were not complete. Untouched on success.
bool SendEmail(const std::string& sNewIP, const std::function<void()>& onAccepted,
               VbError& failure);
// Another message to the same recipients, over the same delivery: compose makes it from the
// loaded settings. True when the server accepted it; failure as above.
bool SendComposedEmail(
    const std::function<NotificationMessage(const EmailSettingsRecord&)>& compose,
    VbError& failure);

} // namespace modSendEmail
