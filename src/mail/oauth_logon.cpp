#include "mail/oauth_logon.h"

#include "common/dprint.h"
#include "mail/smtp_transport.h"
#include "oauth/oauth.h"
#include "settings/app_settings.h"
#include "settings/ini_file.h"

#include <algorithm>

namespace modSendEmail {

namespace {

constexpr const char* kSection = "EmailConfig";

std::string ReadSetting(const char* key) {
    return CommonModule::ReadINI(CommonModule::sAppINI, kSection, key);
}

const char* const kSignInAgain =
    "sign in again with \"addrwatch /signin\" or the configuration window's \"Sign In...\"";

// The log's text for a renewal that failed.
std::string RenewalFailure(const oauth::RenewResult& renewed, const std::string& account) {
    const std::string who = account.empty() ? "the mail account" : account;
    const std::string why = renewed.message.empty() ? "" : " (" + renewed.message + ")";
    switch (renewed.error) {
    case oauth::RenewError::InvalidGrant:
        return "The OAuth sign-in of " + who + " was revoked or has expired" + why + ": " +
               kSignInAgain + ".";
    case oauth::RenewError::NotSignedIn:
        return "No OAuth sign-in is stored for " + who +
               ": sign in with \"addrwatch /signin\" or "
               "the configuration window's \"Sign In...\".";
    default:
        return "The access token for " + who + " could not be renewed" + why + ".";
    }
}

} // namespace

Outcome<std::optional<TokenLogon>> OAuthLogon(ConnectionSecurity security,
                                              const std::string& account,
                                              std::chrono::milliseconds requestTime) {
    const Outcome<oauth::OAuthSettings> settings = oauth::LoadOAuthSettings();
    if (!settings) {
        return VbError{smtp_errors::kLogonFailed, settings.error().description};
    }
    if (settings.value().provider == oauth::Provider::None) {
        return std::optional<TokenLogon>();
    }
    if (security == ConnectionSecurity::Plain) {
        return VbError{smtp_errors::kSecureChannelFailed,
                       "An OAuth sign-in logs on only over TLS, and these settings connect in "
                       "plain text: nothing was sent. Turn on \"Use SSL\" (or set StartTLS=1)."};
    }
    oauth::RequestBounds bounds;
    bounds.time = std::min(bounds.time, requestTime);
    const oauth::RenewResult renewed = oauth::RenewAccessToken(settings.value(), bounds);
    if (renewed.error != oauth::RenewError::None) {
        return VbError{smtp_errors::kLogonFailed, RenewalFailure(renewed, account)};
    }
    return std::optional<TokenLogon>(
        TokenLogon{renewed.grant.account.empty() ? account : renewed.grant.account,
                   renewed.grant.accessToken});
}

void KeepSignInAlive() {
    if (ReadSetting("OAuthProvider").empty()) {
        return; // the password logon: nothing to keep alive
    }
    const Outcome<oauth::OAuthSettings> settings = oauth::LoadOAuthSettings();
    if (!settings) {
        CommonModule::DPrint("modSendEmail\\KeepSignInAlive: " + settings.error().description);
        return;
    }
    if (settings.value().provider == oauth::Provider::None || !oauth::RenewalDue()) {
        return;
    }
    const oauth::RenewResult renewed = oauth::RenewAccessToken(settings.value());
    if (renewed.error != oauth::RenewError::None) {
        CommonModule::DPrint("modSendEmail\\KeepSignInAlive: " +
                             RenewalFailure(renewed, ReadSetting("SMTPUserName")));
    }
}

} // namespace modSendEmail
