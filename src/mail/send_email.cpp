#include "mail/send_email.h"

#include "common/dprint.h"
#include "mail/message.h"
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

} // namespace

bool SendEmail(const std::string& sNewIP) {
    return SendEmail(sNewIP, kConnectionTimeout);
}

bool SendEmail(const std::string& sNewIP, std::chrono::milliseconds timeout) {
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

    const SmtpConfig config{EmailSettings.SMTPServer,
                            timeout,
                            2,
                            EmailSettings.SMTPPort,
                            EmailSettings.SMTPAuth,
                            ChooseConnectionSecurity(EmailSettings.UseSSL, EmailSettings.StartTLS,
                                                     EmailSettings.SMTPPort),
                            EmailSettings.SMTPUserName,
                            EmailSettings.SMTPPassword};
    const NotificationMessage message = ComposeMessage(EmailSettings, sNewIP);
    std::unique_ptr<SmtpTransport> transport = MakeSmtpTransport();
    if (Failure f = SendSmtpMessage(config, message, *transport)) {
        Trap(*f, result);
    }
    return result;
}

} // namespace modSendEmail
