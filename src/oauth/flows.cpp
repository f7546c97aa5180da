#include "oauth/flows.h"

#include "common/text.h"
#include "mail/message.h"
#include "oauth/crypto.h"

#include <algorithm>
#include <thread>

namespace oauth {

namespace {

bool Wait(const SignInEvents& events, std::chrono::milliseconds span) {
    if (events.wait) {
        return events.wait(span);
    }
    std::this_thread::sleep_for(span);
    return true;
}

// The provider's own words for an error answer, else its code.
std::string ProviderText(const std::string& error, const std::string& description) {
    return modSendEmail::SanitizeServerText(description.empty() ? error : description);
}

using text::HexDigitValue;

std::string PercentDecode(std::string_view text) {
    std::string out;
    out.reserve(text.size());
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (text[i] == '+') {
            out.push_back(' ');
        } else if (text[i] == '%' && i + 2 < text.size() && HexDigitValue(text[i + 1]) >= 0 &&
                   HexDigitValue(text[i + 2]) >= 0) {
            out.push_back(
                static_cast<char>(HexDigitValue(text[i + 1]) * 16 + HexDigitValue(text[i + 2])));
            i += 2;
        } else {
            out.push_back(text[i]);
        }
    }
    return out;
}

std::string PercentEncode(std::string_view text) {
    static constexpr char kHex[] = "0123456789ABCDEF";
    std::string out;
    for (const char ch : text) {
        const auto c = static_cast<unsigned char>(ch);
        if ((c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') ||
            c == '-' || c == '.' || c == '_' || c == '~') {
            out.push_back(ch);
        } else {
            out.push_back('%');
            out.push_back(kHex[c >> 4]);
            out.push_back(kHex[c & 15]);
        }
    }
    return out;
}

// The client's credentials as the token endpoint takes them in the form.
std::string ClientFields(const OAuthSettings& settings) {
    std::string form = "&" + FormEncode({{"client_id", settings.clientId}});
    if (!settings.clientSecret.empty()) {
        form += "&" + FormEncode({{"client_secret", settings.clientSecret}});
    }
    return form;
}

// Asks the token endpoint; the answer parsed, or a message saying why there is none.
struct TokenCall {
    bool answered = false;
    int status = 0;
    TokenAnswer answer;
    std::string message;
};

TokenCall CallTokenEndpoint(const OAuthSettings& settings, const std::string& form,
                            const FlowDeps& deps) {
    const HttpAnswer http = deps.post(settings.tokenUrl, form, deps.bounds);
    if (!http.complete) {
        return {false, http.status, {}, "the token endpoint: " + http.failure};
    }
    TokenAnswer answer = ParseTokenAnswer(http.body);
    if (!answer.valid) {
        return {false,
                http.status,
                {},
                "the token endpoint's answer (HTTP " + std::to_string(http.status) +
                    ") is not one this program reads"};
    }
    if (answer.error.empty() && (http.status < 200 || http.status > 299)) {
        return {false,
                http.status,
                {},
                "the token endpoint answered HTTP " + std::to_string(http.status)};
    }
    return {true, http.status, std::move(answer), {}};
}

} // namespace

std::string
FormEncode(std::initializer_list<std::pair<std::string_view, std::string_view>> fields) {
    std::string out;
    for (const auto& [name, value] : fields) {
        if (!out.empty()) {
            out.push_back('&');
        }
        out += PercentEncode(name);
        out.push_back('=');
        out += PercentEncode(value);
    }
    return out;
}

std::optional<std::string> QueryParameter(std::string_view address, std::string_view name) {
    auto query = address.substr(std::min(address.find('?'), address.size()));
    query = query.substr(0, query.find('#'));
    if (!query.empty()) {
        query.remove_prefix(1);
    }
    while (!query.empty()) {
        const auto end = std::min(query.find('&'), query.size());
        const std::string_view pair = query.substr(0, end);
        const auto equals = pair.find('=');
        if (PercentDecode(pair.substr(0, equals)) == name) {
            return equals == std::string_view::npos ? std::string()
                                                    : PercentDecode(pair.substr(equals + 1));
        }
        query.remove_prefix(std::min(end + 1, query.size()));
    }
    return std::nullopt;
}

FlowResult RunDeviceGrant(const OAuthSettings& settings, const SignInEvents& events,
                          const FlowDeps& deps) {
    std::string form = FormEncode({{"client_id", settings.clientId}});
    if (!settings.scope.empty()) {
        form += "&" + FormEncode({{"scope", settings.scope}});
    }
    if (!settings.clientSecret.empty()) {
        form += "&" + FormEncode({{"client_secret", settings.clientSecret}});
    }
    const HttpAnswer http = deps.post(settings.deviceUrl, form, deps.bounds);
    if (!http.complete) {
        return {SignInStatus::Refused, {}, "The device endpoint: " + http.failure};
    }
    const DeviceAnswer device = ParseDeviceAnswer(http.body);
    if (!device.valid) {
        return {SignInStatus::Refused,
                {},
                "The device endpoint's answer (HTTP " + std::to_string(http.status) +
                    ") is not one this program reads"};
    }
    if (!device.error.empty()) {
        return {SignInStatus::Refused, {}, ProviderText(device.error, device.errorText)};
    }
    if (events.prompt) {
        events.prompt({device.verificationUri, device.userCode, {}});
    }
    const auto limit =
        std::min<std::chrono::seconds>(std::chrono::seconds(device.expiresIn), kDeviceWaitLimit);
    const Clock::time_point end = deps.now() + limit;
    std::chrono::seconds interval(
        std::clamp<long long>(device.interval, 1, kDeviceWaitLimit.count()));
    const std::string pollForm =
        FormEncode({{"grant_type", "urn:ietf:params:oauth:grant-type:device_code"},
                    {"device_code", device.deviceCode}}) +
        ClientFields(settings);
    for (;;) {
        if (deps.now() + interval > end) {
            return {SignInStatus::Refused, {}, "The code expired before the sign-in was done"};
        }
        if (!Wait(events, interval)) {
            return {SignInStatus::Cancelled, {}, "The sign-in was cancelled"};
        }
        TokenCall call = CallTokenEndpoint(settings, pollForm, deps);
        if (!call.answered) {
            return {SignInStatus::Refused, {}, "Signing in failed: " + call.message};
        }
        const std::string& error = call.answer.error;
        if (error.empty()) {
            return {SignInStatus::SignedIn, std::move(call.answer), {}};
        }
        if (error == "authorization_pending") {
            continue;
        }
        if (error == "slow_down") {
            interval += std::chrono::seconds(5);
            continue;
        }
        return {SignInStatus::Refused, {}, ProviderText(error, call.answer.errorText)};
    }
}

std::string AuthorizationAddress(const OAuthSettings& settings, const std::string& redirectUri,
                                 const std::string& state, const std::string& challenge) {
    const char joiner = settings.authorizeUrl.find('?') == std::string::npos ? '?' : '&';
    std::string address = settings.authorizeUrl + joiner +
                          FormEncode({{"response_type", "code"},
                                      {"client_id", settings.clientId},
                                      {"redirect_uri", redirectUri},
                                      {"scope", settings.scope},
                                      {"state", state},
                                      {"code_challenge", challenge},
                                      {"code_challenge_method", "S256"}});
    if (settings.provider == Provider::Google) {
        // Without these Google gives a refresh token only on the first consent.
        address += "&" + FormEncode({{"access_type", "offline"}, {"prompt", "consent"}});
    }
    return address;
}

RedirectOutcome ReadRedirect(std::string_view address, const std::string& state) {
    const auto given = QueryParameter(address, "state");
    if (!given || *given != state) {
        return {std::nullopt, "The address does not answer this sign-in (its state differs)"};
    }
    if (const auto error = QueryParameter(address, "error")) {
        return {std::nullopt,
                ProviderText(*error, QueryParameter(address, "error_description").value_or(""))};
    }
    auto code = QueryParameter(address, "code");
    if (!code || code->empty()) {
        return {std::nullopt, "The address carries no authorization code"};
    }
    return {std::move(code), {}};
}

FlowResult ExchangeCode(const OAuthSettings& settings, const std::string& code,
                        const std::string& redirectUri, const std::string& verifier,
                        const FlowDeps& deps) {
    const std::string form = FormEncode({{"grant_type", "authorization_code"},
                                         {"code", code},
                                         {"redirect_uri", redirectUri},
                                         {"code_verifier", verifier}}) +
                             ClientFields(settings);
    TokenCall call = CallTokenEndpoint(settings, form, deps);
    if (!call.answered) {
        return {SignInStatus::Refused, {}, "Signing in failed: " + call.message};
    }
    if (!call.answer.error.empty()) {
        return {SignInStatus::Refused, {}, ProviderText(call.answer.error, call.answer.errorText)};
    }
    return {SignInStatus::SignedIn, std::move(call.answer), {}};
}

std::optional<std::string> MakeVerifier() {
    const auto bytes = RandomBytes(32);
    if (!bytes) {
        return std::nullopt;
    }
    return Base64UrlEncode(*bytes);
}

std::optional<std::string> ChallengeS256(std::string_view verifier) {
    const auto digest = Sha256(verifier);
    if (!digest) {
        return std::nullopt;
    }
    return Base64UrlEncode(*digest);
}

RefreshOutcome RequestRefresh(const OAuthSettings& settings, const std::string& refreshToken,
                              const FlowDeps& deps) {
    const std::string form =
        FormEncode({{"grant_type", "refresh_token"}, {"refresh_token", refreshToken}}) +
        ClientFields(settings);
    TokenCall call = CallTokenEndpoint(settings, form, deps);
    if (!call.answered) {
        return {RenewError::Transport, {}, call.message};
    }
    if (call.answer.error == "invalid_grant") {
        return {
            RenewError::InvalidGrant, {}, ProviderText(call.answer.error, call.answer.errorText)};
    }
    if (!call.answer.error.empty()) {
        return {RenewError::Refused, {}, ProviderText(call.answer.error, call.answer.errorText)};
    }
    return {RenewError::None, std::move(call.answer), {}};
}

} // namespace oauth
