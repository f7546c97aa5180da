// modSendEmail: the e-mail settings, the notification message and its delivery over SMTP.
#pragma once

#include "common/vb_error.h"

#include <string>

namespace modSendEmail {

// The e-mail settings record of section "EmailConfig", with the password in clear.
struct EmailSettingsRecord {
    std::string SMTPServer;
    int SMTPPort = 0;
    std::string SMTPUserName;
    std::string SMTPPassword;
    std::string FromEmail;
    std::string ToEmail;
    bool SMTPAuth = false;
    bool UseSSL = false;
};

// The process-wide record that LoadEmailConfig fills.
extern EmailSettingsRecord EmailSettings;

// Loads EmailSettings from the settings file (starting from a clean record). True when server,
// port, sender and recipient are all present; an error for a flag that is not a 16-bit number or
// a password that cannot be decrypted.
Outcome<bool> LoadEmailConfig();

// Sends the notification for the new address. True when the settings were complete and the
// message was accepted by the server; false otherwise, with the log lines of the failure.
bool SendEmail(const std::string& sNewIP);

} // namespace modSendEmail
