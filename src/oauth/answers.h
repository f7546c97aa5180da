// What the token and device endpoints answer, read from their JSON. Every field is checked for
// presence and type before it is used; nothing here throws.
#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <utility>

namespace oauth {

// A token endpoint's answer: the tokens, or the provider's error code and its own description.
struct TokenAnswer {
    bool valid = false;    // well-formed JSON object of either kind
    std::string error;     // RFC 6749 error code; empty on success
    std::string errorText; // error_description, as the provider wrote it
    std::string accessToken;
    std::string refreshToken; // empty when the provider did not rotate it
    std::string idToken;
};

// A device authorization answer (RFC 8628 section 3.2).
struct DeviceAnswer {
    bool valid = false;
    std::string error;
    std::string errorText;
    std::string deviceCode;
    std::string userCode;
    std::string verificationUri;
    long long expiresIn = 0; // seconds, positive
    long long interval = 5;  // seconds, positive
};

TokenAnswer ParseTokenAnswer(std::string_view json);
DeviceAnswer ParseDeviceAnswer(std::string_view json);

// The account an ID token names: its preferred_username claim, else its email. The payload is
// read without checking the signature: the token came over verified TLS straight from the token
// endpoint. Nothing when the token or its payload is malformed or names neither.
std::optional<std::string> AccountOfIdToken(std::string_view idToken);

// Base64url without padding (RFC 4648 section 5), as PKCE and JWTs use it.
std::string Base64UrlEncode(std::string_view bytes);
// Nothing for a character outside the alphabet or an impossible length; padding is accepted.
std::optional<std::string> Base64UrlDecode(std::string_view text);

} // namespace oauth
