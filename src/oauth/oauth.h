// OAuth 2.0 sign-in for the SMTP logon: the provider settings, the sign-in flows (device
// authorization grant, authorization code with PKCE and a loopback redirect), the renewal of the
// access token from the stored refresh token, and that token's protected store.
#pragma once

#include "common/vb_error.h"

#include <chrono>
#include <cstddef>
#include <functional>
#include <string>

namespace oauth {

enum class Provider { None, Microsoft, Google, Generic };

// The provider's settings with the defaults applied (client id from the build, tenant, scope,
// endpoints). clientSecret is in clear.
struct OAuthSettings {
    Provider provider = Provider::None;
    std::string clientId;
    std::string clientSecret;
    std::string tenant;
    std::string scope;
    std::string deviceUrl;
    std::string authorizeUrl;
    std::string tokenUrl;
};

// Reads section "EmailConfig" of the settings file. Provider::None when OAuthProvider is empty or
// missing. An error with a clear description for an unknown provider, for no client id from the
// settings or the build, or for a generic provider without its endpoints.
Outcome<OAuthSettings> LoadOAuthSettings();

// How long one token or device request may take, and how large its answer may be. The defaults
// are the product's; tests pass shorter ones.
struct RequestBounds {
    std::chrono::milliseconds time{60'000};
    std::size_t bytes = 64 * 1024;
};

// A fresh access token and the account it logs on as (the SMTP user= name).
struct AccessGrant {
    std::string accessToken;
    std::string account;
};

enum class RenewError { None, NotSignedIn, InvalidGrant, Refused, Transport };

struct RenewResult {
    RenewError error = RenewError::None;
    AccessGrant grant;
    std::string message; // why not, for the log; never holds a secret
};

// One refresh-grant request to the token endpoint over verified https, following no redirect,
// within bounds. A rotated refresh token is stored before this returns, and RefreshedAt is
// updated. The caller holds the check-run guard, so two renewals never race over a rotating
// token.
RenewResult RenewAccessToken(const OAuthSettings& settings, const RequestBounds& bounds = {});

// True when RefreshedAt is missing, unreadable, or at least 7 days old: the keep-alive rule for a
// run that has nothing to send.
bool RenewalDue();

// What a sign-in shows: for the device grant the verification address and user code, for the
// authorization-code flow the address to open.
struct SignInPrompt {
    std::string verificationUri;
    std::string userCode;
    std::string authorizationUrl;
};

struct SignInEvents {
    // Shows the code and the address.
    std::function<void(const SignInPrompt&)> prompt;
    // Waits this long (a window pumps its messages meanwhile); false when the user cancelled.
    // An empty function sleeps.
    std::function<bool(std::chrono::milliseconds)> wait;
    // Without a display: returns the address the browser was redirected to, pasted back. An
    // empty function listens on the loopback instead.
    std::function<std::string()> readRedirect;
    // Opens the address in the browser when there is a desktop.
    bool openBrowser = true;
};

enum class SignInStatus { SignedIn, Refused, Cancelled, SettingsError };

struct SignInResult {
    SignInStatus status = SignInStatus::Refused;
    std::string account;
    std::string message; // "Signed in as ..." or why not; never holds a secret
};

// Signs in (device grant for Microsoft and generic providers, PKCE with a loopback redirect for
// Google). On success stores the refresh token (replacing the old one) and RefreshedAt, and
// writes SMTPUserName from the ID token (preferred_username, else email) to the settings file.
SignInResult SignIn(const OAuthSettings& settings, const SignInEvents& events);

// Deletes RefreshToken and RefreshedAt; the uninstaller runs it before the key deletion, which
// first opens every subkey to other users.
void DeleteStoredToken();

} // namespace oauth
