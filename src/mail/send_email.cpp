#include "mail/send_email.h"

#include "common/dprint.h"
#include "mail/message.h"
#include "mail/oauth_logon.h"
#include "mail/smtp_client.h"
#include "mail/smtp_transport.h"

namespace modSendEmail {

namespace {

// The trap: report the error in SendEmail's own two-message shape and carry on.
void Trap(const VbError& e, bool& result) {
    CommonModule::DPrint("SendEmail: (Resuming after error)");
    CommonModule::DPrint("\t- VB Error: " + std::to_string(e.number) + " " + e.description);
    result = false;
}

// Loads the settings, composes the message from them and sends it; failure, when given, gets
// the error (number 0: the settings were not complete).
bool Deliver(const std::function<NotificationMessage(const EmailSettingsRecord&)>& compose,
             std::chrono::milliseconds timeout, const std::function<void()>& onAccepted,
             VbError* failure) {
    bool result = false;
    const Outcome<bool> loaded = LoadEmailConfig();
    if (!loaded) {
        Trap(loaded.error(), result);
        if (failure != nullptr) {
            *failure = loaded.error();
        }
        return result;
    }
    if (!loaded.value()) {
        if (failure != nullptr) {
            *failure = VbError{};
        }
        return false;
    }
    result = true;

    SmtpConfig config;
    config.server = EmailSettings.SMTPServer;
    config.connectionTimeout = timeout;
    config.port = EmailSettings.SMTPPort;
    config.authenticate = EmailSettings.SMTPAuth;
    config.security = ChooseConnectionSecurity(EmailSettings.UseSSL, EmailSettings.StartTLS,
                                               EmailSettings.SMTPPort);
    config.userName = EmailSettings.SMTPUserName;
    config.password = EmailSettings.SMTPPassword;
    // With an OAuth sign-in the logon is XOAUTH2, whatever "Authenticate" says.
    const Outcome<std::optional<TokenLogon>> token = OAuthLogon(config.security, timeout);
    if (!token) {
        Trap(token.error(), result);
        if (failure != nullptr) {
            *failure = token.error();
        }
        return result;
    }
    if (const std::optional<TokenLogon>& logon = token.value()) {
        config.authenticate = true;
        config.logon = SmtpLogon::XOAuth2;
        config.userName = logon->account;
        config.accessToken = logon->accessToken;
        config.password.clear();
    }
    const NotificationMessage message = compose(EmailSettings);
    std::unique_ptr<SmtpTransport> transport = MakeSmtpTransport();
    if (Failure f = SendSmtpMessage(config, message, *transport, onAccepted)) {
        Trap(*f, result);
        if (failure != nullptr) {
            *failure = *f;
        }
    }
    return result;
}

} // namespace

bool SendEmail(const std::string& sNewIP, const std::function<void()>& onAccepted) {
    return SendEmail(sNewIP, kConnectionTimeout, onAccepted);
}

bool SendEmail(const std::string& sNewIP, std::chrono::milliseconds timeout,
               const std::function<void()>& onAccepted) {
    return Deliver([&](const EmailSettingsRecord& s) { return ComposeMessage(s, sNewIP); }, timeout,
                   onAccepted, nullptr);
}

bool SendEmail(const std::string& sNewIP, const std::function<void()>& onAccepted,
               VbError& failure) {
    return Deliver([&](const EmailSettingsRecord& s) { return ComposeMessage(s, sNewIP); },
                   kConnectionTimeout, onAccepted, &failure);
}

bool SendNotice(const std::string& sLines, const std::function<void()>& onAccepted,
                VbError& failure) {
    return Deliver([&](const EmailSettingsRecord& s) { return ComposeNotice(s, sLines); },
                   kConnectionTimeout, onAccepted, &failure);
}

bool SendComposedEmail(
    const std::function<NotificationMessage(const EmailSettingsRecord&)>& compose,
    VbError& failure) {
    return Deliver(compose, kConnectionTimeout, {}, &failure);
}

} // namespace modSendEmail
