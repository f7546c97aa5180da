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

// The log's text for a renewal that failed: the sign-in's own words (a revoked or expired one
// names the account and how to sign in again).
std::string RenewalFailure(const oauth::RenewResult& renewed) {
    return renewed.message.empty() ? "The access token could not be renewed." : renewed.message;
}

} // namespace

Outcome<std::optional<TokenLogon>> OAuthLogon(ConnectionSecurity security,
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
        return VbError{smtp_errors::kLogonFailed, RenewalFailure(renewed)};
    }
    return std::optional<TokenLogon>(TokenLogon{renewed.grant.account, renewed.grant.accessToken});
}

void KeepSignInAlive() {
    if (CommonModule::ReadINI(CommonModule::sAppINI, kSection, "OAuthProvider").empty()) {
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
        CommonModule::DPrint("modSendEmail\\KeepSignInAlive: " + RenewalFailure(renewed));
    }
}

} // namespace modSendEmail
