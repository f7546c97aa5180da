// The provider's settings from section "EmailConfig", with each provider's defaults.
#include "oauth/oauth.h"

#include "common/text.h"
#include "oauth_client_ids.h"
#include "settings/app_settings.h"
#include "settings/base85.h"
#include "settings/ini_file.h"

namespace oauth {

namespace {

std::string Read(const char* key) {
    return CommonModule::ReadINI(CommonModule::sAppINI, "EmailConfig", key);
}

VbError SettingsError(std::string text) {
    return {5, std::move(text)};
}

// A tenant goes into the endpoints' path: a name or an id, nothing that could change the path.
bool IsTenantName(const std::string& tenant) {
    if (tenant.empty() || tenant.size() > 64) {
        return false;
    }
    for (const char c : tenant) {
        const bool ok = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') ||
                        (c >= '0' && c <= '9') || c == '-' || c == '.' || c == '_';
        if (!ok) {
            return false;
        }
    }
    return tenant != "." && tenant != "..";
}

} // namespace

Outcome<OAuthSettings> LoadOAuthSettings() {
    OAuthSettings s;
    const std::string provider = text::ToLowerAscii(Read("OAuthProvider"));
    if (provider.empty()) {
        return s;
    }
    if (provider == "microsoft") {
        s.provider = Provider::Microsoft;
    } else if (provider == "google") {
        s.provider = Provider::Google;
    } else if (provider == "generic") {
        s.provider = Provider::Generic;
    } else {
        return SettingsError("OAuthProvider \"" + Read("OAuthProvider") +
                             "\" is not one of microsoft, google or generic");
    }
    s.clientId = Read("OAuthClientID");
    if (const std::string stored = Read("OAuthClientSecret"); !stored.empty()) {
        Outcome<std::string> secret = modBase85::DecryptText(stored, modBase85::kPasswordKey);
        if (!secret) {
            return secret.error();
        }
        s.clientSecret = std::move(secret.value());
    }
    s.scope = Read("OAuthScope");
    s.deviceUrl = Read("OAuthDeviceURL");
    s.authorizeUrl = Read("OAuthAuthorizeURL");
    s.tokenUrl = Read("OAuthTokenURL");
    auto fill = [](std::string& field, std::string value) {
        if (field.empty()) {
            field = std::move(value);
        }
    };
    switch (s.provider) {
    case Provider::Microsoft: {
        s.tenant = Read("OAuthTenant");
        fill(s.tenant, "common");
        if (!IsTenantName(s.tenant)) {
            return SettingsError("OAuthTenant \"" + s.tenant + "\" is not a tenant name or id");
        }
        const std::string base = "https://login.microsoftonline.com/" + s.tenant + "/oauth2/v2.0/";
        fill(s.clientId, build::kMicrosoftClientId);
        fill(s.scope, "https://outlook.office.com/SMTP.Send offline_access openid profile email");
        fill(s.deviceUrl, base + "devicecode");
        fill(s.authorizeUrl, base + "authorize");
        fill(s.tokenUrl, base + "token");
        break;
    }
    case Provider::Google:
        if (s.clientId.empty()) {
            s.clientId = build::kGoogleClientId;
            fill(s.clientSecret, build::kGoogleClientSecret);
        }
        fill(s.scope, "https://mail.google.com/ openid email");
        fill(s.deviceUrl, "https://oauth2.googleapis.com/device/code");
        fill(s.authorizeUrl, "https://accounts.google.com/o/oauth2/v2/auth");
        fill(s.tokenUrl, "https://oauth2.googleapis.com/token");
        break;
    default:
        if (s.deviceUrl.empty() || s.tokenUrl.empty()) {
            return SettingsError("OAuthProvider generic needs OAuthDeviceURL and OAuthTokenURL");
        }
        break;
    }
    if (s.clientId.empty()) {
        return SettingsError("No OAuth client id for OAuthProvider " + provider +
                             ": set OAuthClientID in section EmailConfig (the README's section "
                             "\"Signing in with OAuth\" explains how to register one)");
    }
    return s;
}

} // namespace oauth
