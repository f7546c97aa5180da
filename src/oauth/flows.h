// The sign-in flows and the renewal behind oauth.h, with their transport and clock passed in so
// that tests can run them against scripted answers. Nothing here touches the store or the
// settings file; oauth.cpp does that with what these return.
#pragma once

#include "oauth/answers.h"
#include "oauth/oauth.h"
#include "oauth/token_transport.h"

#include <chrono>
#include <functional>
#include <initializer_list>
#include <optional>
#include <string>
#include <string_view>
#include <utility>

namespace oauth {

using Clock = std::chrono::steady_clock;

struct FlowDeps {
    PostForm post = PostFormHttps;
    std::function<Clock::time_point()> now = [] { return Clock::now(); };
    RequestBounds bounds;
};

// The longest a device-code sign-in waits, whatever the server's expires_in says, and the
// longest the authorization-code flow waits for its redirect.
inline constexpr std::chrono::seconds kDeviceWaitLimit{15 * 60};
inline constexpr std::chrono::seconds kRedirectWaitLimit{5 * 60};

struct FlowResult {
    SignInStatus status = SignInStatus::Refused;
    TokenAnswer tokens; // on SignedIn: an access token and a refresh token
    std::string message;
};

// RFC 8628: asks for a code, shows it, polls at the server's interval (slow_down adds 5 s)
// until the user has signed in, refused, or the code expired (at most kDeviceWaitLimit).
FlowResult RunDeviceGrant(const OAuthSettings& settings, const SignInEvents& events,
                          const FlowDeps& deps);

// The authorization address for the PKCE flow (RFC 7636, S256).
std::string AuthorizationAddress(const OAuthSettings& settings, const std::string& redirectUri,
                                 const std::string& state, const std::string& challenge);

// What a redirect back to redirectUri carries: the code when its state matches, else why not.
struct RedirectOutcome {
    std::optional<std::string> code;
    std::string message;
};
RedirectOutcome ReadRedirect(std::string_view address, const std::string& state);

// Exchanges an authorization code for tokens.
FlowResult ExchangeCode(const OAuthSettings& settings, const std::string& code,
                        const std::string& redirectUri, const std::string& verifier,
                        const FlowDeps& deps);

// A PKCE verifier (43 characters from 32 random bytes) and its S256 challenge.
std::optional<std::string> MakeVerifier();
std::optional<std::string> ChallengeS256(std::string_view verifier);

// One refresh-grant request: the outcome and, on success, the answer (with any rotated token).
struct RefreshOutcome {
    RenewError error = RenewError::None;
    TokenAnswer tokens;
    std::string message;
};
RefreshOutcome RequestRefresh(const OAuthSettings& settings, const std::string& refreshToken,
                              const FlowDeps& deps);

// application/x-www-form-urlencoded, in the order given; the same encoding serves a query.
std::string FormEncode(std::initializer_list<std::pair<std::string_view, std::string_view>> fields);
// The decoded value of a query parameter of an address ("...?a=1&b=2"); nothing when absent.
std::optional<std::string> QueryParameter(std::string_view address, std::string_view name);

} // namespace oauth
