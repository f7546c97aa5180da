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

// The message of one send, from the settings just loaded.
using Composer = std::function<NotificationMessage(const EmailSettingsRecord&)>;

bool SendComposed(const Composer& compose, std::chrono::milliseconds timeout,
                  const std::function<void()>& onAccepted);

} // namespace

bool SendEmail(const std::string& sNewIP, const std::function<void()>& onAccepted) {
    return SendEmail(sNewIP, kConnectionTimeout, onAccepted);
}

bool SendEmail(const std::string& sNewIP, std::chrono::milliseconds timeout,
               const std::function<void()>& onAccepted) {
    return SendComposed(
        [&](const EmailSettingsRecord& settings) { return ComposeMessage(settings, sNewIP); },
        timeout, onAccepted);
}

bool SendNotice(const std::string& sLines, const std::function<void()>& onAccepted) {
    return SendComposed(
        [&](const EmailSettingsRecord& settings) { return ComposeNotice(settings, sLines); },
        kConnectionTimeout, onAccepted);
}

namespace {

bool SendComposed(const Composer& compose, std::chrono::milliseconds timeout,
                  const std::function<void()>& onAccepted) {
    bool result = false;
    const Outcome<bool> loaded = LoadEmailConfig();
    if (!loaded) {
        Trap(loaded.error(), result);
        return result;
    }
    if (!loaded.value()) {
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
    }
    return result;
}

} // namespace

} // namespace modSendEmail
