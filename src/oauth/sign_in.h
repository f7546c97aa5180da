// The sign-in and the renewal as oauth.h offers them, with the transport and clock passed in
// (tests give scripted ones). These read and write the token store and the settings file.
#pragma once

#include "oauth/flows.h"

#include <chrono>

namespace oauth {

SignInResult SignInWith(const OAuthSettings& settings, const SignInEvents& events,
                        const FlowDeps& deps);
RenewResult RenewWith(const OAuthSettings& settings, const FlowDeps& deps);
// The keep-alive rule at a given time.
bool RenewalDueAt(std::chrono::system_clock::time_point now);

// What the browser sees once the loopback redirect has arrived.
inline constexpr const char* kRedirectDonePage =
    "<!DOCTYPE html><html><head><title>Addrwatch</title></head><body><p>Addrwatch is signed "
    "in. You may close this window.</p></body></html>";

} // namespace oauth
