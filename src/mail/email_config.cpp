#include "mail/message.h"
#include "mail/send_email.h"
#include "settings/app_settings.h"
#include "settings/base85.h"
#include "settings/ini_file.h"

#include <cstdlib>
#include <optional>

namespace modSendEmail {

EmailSettingsRecord EmailSettings;

namespace {

constexpr const char* kSection = "EmailConfig";

std::string Read(const char* key) {
    return CommonModule::ReadINI(CommonModule::sAppINI, kSection, key);
}

// A check-box value: on only when it is a number equal to 1, off for any other number, no value
// when empty; a word is an error.
std::optional<VbError> LoadFlag(const char* key, std::optional<bool>& field) {
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

std::optional<VbError> LoadFlag(const char* key, bool& field) {
    std::optional<bool> value;
    std::optional<VbError> e = LoadFlag(key, value);
    field = value.value_or(false);
    return e;
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
    if (auto e = LoadFlag("StartTLS", EmailSettings.StartTLS)) {
        return *e;
    }
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
        const char* name = std::getenv("computername");
        EmailSettings.Subject = name != nullptr ? name : "";
    }
    return !missing;
}

} // namespace modSendEmail
