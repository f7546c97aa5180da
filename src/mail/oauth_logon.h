// The SMTP logon with an OAuth sign-in: a fresh access token before each session, and the weekly
// renewal that keeps a sign-in alive while the address holds still.
//
// Both renew with the stored refresh token, which the provider may rotate on every use: the
// caller holds the check-run guard, so two renewals never race over one token.
#pragma once

#include "common/vb_error.h"
#include "mail/connection_security.h"

#include <chrono>
#include <optional>
#include <string>

namespace modSendEmail {

// What an XOAUTH2 logon needs.
struct TokenLogon {
    std::string account; // the user= name
    std::string accessToken;
};

// With an OAuth provider set, a fresh access token for the session; no value without one (the
// password logon as before). security is the session's: the token goes only over TLS, so plain
// text is refused before any request. requestTime bounds the token request (and never lifts it
// past its 60 s). Errors, each with its message for the log: kLogonFailed for the provider's
// settings (an unknown provider, no client id) and for a renewal that failed (a revoked or
// expired sign-in names the account and how to sign in again); kSecureChannelFailed for plain
// text.
Outcome<std::optional<TokenLogon>> OAuthLogon(ConnectionSecurity security,
                                              std::chrono::milliseconds requestTime);

// For a check run with nothing to send: renews the sign-in when its last renewal is a week old or
// more, since a refresh token left unused lapses (Microsoft's after 90 days) and the one notice
// that matters would then fail. Logs why when it cannot. Without a provider it reads one setting
// and nothing else.
void KeepSignInAlive();

} // namespace modSendEmail
