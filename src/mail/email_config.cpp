#include "common/os_info.h"
#include "mail/connection_security.h"
#include "mail/message.h"
#include "mail/send_email.h"
#include "settings/app_settings.h"
#include "settings/base85.h"
#include "settings/ini_file.h"

#include <optional>

namespace modSendEmail {

EmailSettingsRecord EmailSettings;

namespace {

constexpr const char* kSection = "EmailConfig";

std::string Read(const char* key) {
    return CommonModule::ReadINI(CommonModule::sAppINI, kSection, key);
}

// A check-box value: on only when it is a number equal to 1, off for any other number and when
// empty; a word is an error.
std::optional<VbError> LoadFlag(const char* key, bool& field) {
    const std::string value = Read(key);
    if (value.empty()) {
        return std::nullopt;
    }
    const Outcome<int> n = ConvertToInteger16(value);
    if (!n) {
        return n.error();
    }
    field = n.value() == 1;
    return std::nullopt;
}

} // namespace

Outcome<bool> LoadEmailConfig() {
    // A clean start, so a setting removed from the file takes effect on the next message.
    EmailSettings = EmailSettingsRecord{};
    bool missing = false;
    if (auto e = LoadFlag("UseSSL", EmailSettings.UseSSL)) {
        return *e;
    }
    if (auto e = LoadFlag("SMTPAuth", EmailSettings.SMTPAuth)) {
        return *e;
    }
    // Not a check box: any value but 0 asks for STARTTLS, so no value is an error.
    EmailSettings.StartTLS = StartTlsSetting(Read("StartTLS"));
    auto required = [&](const char* key, std::string& field) {
        std::string value = Read(key);
        if (value.empty()) {
            missing = true;
        } else {
            field = std::move(value);
        }
    };
    required("FromEmail", EmailSettings.FromEmail);
    required("ToEmail", EmailSettings.ToEmail);
    if (const std::string stored = Read("SMTPPassword"); !stored.empty()) {
        Outcome<std::string> password = modBase85::DecryptText(stored, modBase85::kPasswordKey);
        if (!password) {
            return password.error();
        }
        EmailSettings.SMTPPassword = std::move(password.value());
    }
    if (std::string user = Read("SMTPUserName"); !user.empty()) {
        EmailSettings.SMTPUserName = std::move(user);
    }
    required("SMTPPort", EmailSettings.SMTPPort);
    required("SMTPServer", EmailSettings.SMTPServer);
    if (std::string subject = Read("Subject"); !subject.empty()) {
        EmailSettings.Subject = std::move(subject);
    } else {
        EmailSettings.Subject = platform::ComputerName();
    }
    return !missing;
}

} // namespace modSendEmail
