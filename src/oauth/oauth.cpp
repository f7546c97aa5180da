#include "oauth/oauth.h"

namespace oauth {

Outcome<OAuthSettings> LoadOAuthSettings() {
    return OAuthSettings{};
}

RenewResult RenewAccessToken(const OAuthSettings&, const RequestBounds&) {
    return {RenewError::NotSignedIn, {}, "Not signed in"};
}

bool RenewalDue() {
    return false;
}

SignInResult SignIn(const OAuthSettings&, const SignInEvents&) {
    return {SignInStatus::SettingsError, {}, "Sign-in is not available"};
}

void DeleteStoredToken() {}

} // namespace oauth
