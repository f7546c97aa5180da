#include "health/failure_alert.h"

#include "mail/send_email.h"

namespace health {

modSendEmail::NotificationMessage ComposeFailureAlert(const modSendEmail::EmailSettingsRecord& s,
                                                      const std::string& failingSinceUtc,
                                                      const std::string& detail) {
    modSendEmail::NotificationMessage m;
    m.To = s.ToEmail;
    m.From = s.FromEmail;
    m.Subject = s.Subject + kAlertSubjectTail;
    m.TextBody = "No check has found the WAN IP address since " + failingSinceUtc +
                 " (UTC).\r\n\r\nThe last check: " + detail + modSendEmail::MessageFooter();
    return m;
}

bool SendFailureAlert(const std::string& failingSinceUtc, const std::string& detail) {
    VbError failure;
    return modSendEmail::SendComposedEmail(
        [&](const modSendEmail::EmailSettingsRecord& s) {
            return ComposeFailureAlert(s, failingSinceUtc, detail);
        },
        failure);
}

} // namespace health
