// The sign-in, the renewal and the stored token, as oauth.h offers them.
#include "oauth/oauth.h"

#include "oauth/browser.h"
#include "oauth/crypto.h"
#include "oauth/loopback_listener.h"
#include "oauth/sign_in.h"
#include "oauth/token_store.h"
#include "settings/app_settings.h"
#include "settings/ini_file.h"

#include <thread>

namespace oauth {

namespace {

using SystemClock = std::chrono::system_clock;

std::string StoredUserName() {
    return CommonModule::ReadINI(CommonModule::sAppINI, "EmailConfig", "SMTPUserName");
}

bool Wait(const SignInEvents& events, std::chrono::milliseconds span) {
    return events.wait ? events.wait(span) : (std::this_thread::sleep_for(span), true);
}

// PKCE with the redirect pasted back (no display) or taken on the loopback.
FlowResult RunAuthorizationCode(const OAuthSettings& settings, const SignInEvents& events,
                                const FlowDeps& deps) {
    const auto verifier = MakeVerifier();
    const auto challenge = verifier ? ChallengeS256(*verifier) : std::nullopt;
    const auto stateBytes = RandomBytes(16);
    if (!challenge || !stateBytes) {
        return {
            SignInStatus::Refused, {}, "The system could not provide random numbers or SHA-256"};
    }
    const std::string state = Base64UrlEncode(*stateBytes);
    if (events.readRedirect) {
        // The browser's failed visit to this address leaves the code in its address bar.
        const std::string redirectUri = "http://127.0.0.1/";
        const std::string address = AuthorizationAddress(settings, redirectUri, state, *challenge);
        if (events.prompt) {
            events.prompt({{}, {}, address});
        }
        const RedirectOutcome redirect = ReadRedirect(events.readRedirect(), state);
        if (!redirect.code) {
            return {SignInStatus::Refused, {}, redirect.message};
        }
        return ExchangeCode(settings, *redirect.code, redirectUri, *verifier, deps);
    }
    LoopbackListener listener;
    if (!listener.ok()) {
        return {SignInStatus::Refused, {}, "No port on 127.0.0.1 could be opened for the redirect"};
    }
    const std::string redirectUri = "http://127.0.0.1:" + std::to_string(listener.port()) + "/";
    const std::string address = AuthorizationAddress(settings, redirectUri, state, *challenge);
    if (events.prompt) {
        events.prompt({{}, {}, address});
    }
    if (events.openBrowser) {
        OpenInBrowser(address);
    }
    const Clock::time_point end = deps.now() + kRedirectWaitLimit;
    while (deps.now() < end) {
        if (const auto target = listener.NextRequest(std::chrono::milliseconds(100))) {
            // Anything else the browser asks (an icon, a stale tab) is answered and ignored.
            const RedirectOutcome redirect = ReadRedirect(*target, state);
            if (!QueryParameter(*target, "state") || *QueryParameter(*target, "state") != state) {
                listener.Answer(400, "<!DOCTYPE html><p>Not this sign-in.</p>");
                continue;
            }
            listener.Answer(200, kRedirectDonePage);
            if (!redirect.code) {
                return {SignInStatus::Refused, {}, redirect.message};
            }
            return ExchangeCode(settings, *redirect.code, redirectUri, *verifier, deps);
        }
        if (!Wait(events, std::chrono::milliseconds(100))) {
            return {SignInStatus::Cancelled, {}, "The sign-in was cancelled"};
        }
    }
    return {SignInStatus::Refused, {}, "No answer came from the browser within 5 minutes"};
}

} // namespace

SignInResult SignInWith(const OAuthSettings& settings, const SignInEvents& events,
                        const FlowDeps& deps) {
    if (settings.provider == Provider::None) {
        return {SignInStatus::SettingsError, {}, "OAuthProvider is not set in section EmailConfig"};
    }
    FlowResult flow = settings.provider == Provider::Google
                          ? RunAuthorizationCode(settings, events, deps)
                          : RunDeviceGrant(settings, events, deps);
    if (flow.status != SignInStatus::SignedIn) {
        return {flow.status, {}, "Not signed in: " + flow.message};
    }
    if (flow.tokens.refreshToken.empty()) {
        return {SignInStatus::Refused,
                {},
                "Not signed in: the provider sent no refresh token (OAuthScope needs "
                "offline_access, or Google's consent)"};
    }
    if (!store::SaveRefreshToken(flow.tokens.refreshToken)) {
        return {SignInStatus::Refused, {}, "Not signed in: the refresh token could not be stored"};
    }
    store::SaveRefreshedAt(store::FormatUtc(SystemClock::now()));
    std::string account = AccountOfIdToken(flow.tokens.idToken).value_or("");
    if (!account.empty()) {
        CommonModule::WriteINI(CommonModule::sAppINI, "EmailConfig", "SMTPUserName", account);
    } else {
        account = StoredUserName();
    }
    return {SignInStatus::SignedIn, account,
            account.empty() ? std::string("Signed in") : "Signed in as " + account};
}

RenewResult RenewWith(const OAuthSettings& settings, const FlowDeps& deps) {
    const auto refreshToken = store::LoadRefreshToken();
    if (!refreshToken) {
        return {RenewError::NotSignedIn,
                {},
                "Not signed in: sign in with \"addrwatch /signin\" or Sign In... in the window"};
    }
    RefreshOutcome outcome = RequestRefresh(settings, *refreshToken, deps);
    if (outcome.error == RenewError::InvalidGrant) {
        const std::string account = StoredUserName();
        return {RenewError::InvalidGrant,
                {},
                "The sign-in" + (account.empty() ? std::string() : " of " + account) +
                    " was revoked or has expired (" + outcome.message +
                    "): sign in again with \"addrwatch /signin\" or Sign In... in the window"};
    }
    if (outcome.error != RenewError::None) {
        return {outcome.error, {}, "Renewing the access token failed: " + outcome.message};
    }
    std::string message;
    // The rotated token first: once the new access token is used the old one may be void.
    if (!outcome.tokens.refreshToken.empty() && outcome.tokens.refreshToken != *refreshToken &&
        !store::SaveRefreshToken(outcome.tokens.refreshToken)) {
        message = "The rotated refresh token could not be stored";
    }
    store::SaveRefreshedAt(store::FormatUtc(SystemClock::now()));
    std::string account = AccountOfIdToken(outcome.tokens.idToken).value_or(StoredUserName());
    return {RenewError::None, {std::move(outcome.tokens.accessToken), std::move(account)}, message};
}

bool RenewalDueAt(SystemClock::time_point now) {
    const auto text = store::LoadRefreshedAt();
    const auto at = text ? store::ParseUtc(*text) : std::nullopt;
    // A time ahead of the clock (a planted value, a clock set back) postpones nothing.
    return !at || *at > now + std::chrono::hours(24) || now - *at >= std::chrono::days(7);
}

RenewResult RenewAccessToken(const OAuthSettings& settings, const RequestBounds& bounds) {
    FlowDeps deps;
    deps.bounds = bounds;
    return RenewWith(settings, deps);
}

bool RenewalDue() {
    return RenewalDueAt(SystemClock::now());
}

SignInResult SignIn(const OAuthSettings& settings, const SignInEvents& events) {
    return SignInWith(settings, events, FlowDeps{});
}

void DeleteStoredToken() {
    store::DeleteStoredValues();
}

} // namespace oauth
