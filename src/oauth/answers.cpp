// The provider's JSON is read with nlohmann/json, exceptions off for parsing and every access
// through checked lookups, so a field of the wrong type is a malformed answer, never a throw.
#include "oauth/answers.h"

#include "common/text.h"
#include "mail/message.h"

#include <nlohmann/json.hpp>

#include <array>
#include <charconv>

namespace oauth {

namespace {

using nlohmann::json;

json ParseObject(std::string_view text) {
    // No exceptions: a parse error gives a discarded value.
    json value = json::parse(text.begin(), text.end(), nullptr, false);
    return value.is_object() ? value : json();
}

// A string member, or nothing when it is missing or of another type.
std::optional<std::string> Text(const json& object, const char* name) {
    const auto it = object.find(name);
    if (it == object.end() || !it->is_string()) {
        return std::nullopt;
    }
    return it->get_ref<const std::string&>();
}

// A whole number of seconds, positive. Some endpoints send it as a decimal string.
std::optional<long long> Seconds(const json& object, const char* name) {
    const auto it = object.find(name);
    if (it == object.end()) {
        return std::nullopt;
    }
    long long value = 0;
    if (it->is_number_integer()) {
        if (it->is_number_unsigned()) {
            const auto u = it->get<std::uint64_t>();
            value = u > 1'000'000'000ULL ? 1'000'000'000LL : static_cast<long long>(u);
        } else {
            value = it->get<std::int64_t>();
        }
    } else if (it->is_string()) {
        const std::string& s = it->get_ref<const std::string&>();
        const auto [end, ec] = std::from_chars(s.data(), s.data() + s.size(), value);
        if (ec != std::errc() || end != s.data() + s.size()) {
            return std::nullopt;
        }
    } else {
        return std::nullopt;
    }
    if (value <= 0) {
        return std::nullopt;
    }
    return value;
}

// The error members common to both answers; false when error is present but not a string.
bool ReadError(const json& object, std::string& error, std::string& errorText) {
    if (!object.contains("error")) {
        return true;
    }
    const auto code = Text(object, "error");
    if (!code || code->empty()) {
        return false;
    }
    error = *code;
    errorText = Text(object, "error_description").value_or("");
    return true;
}

// The answer's object when it holds the success fields the caller reads next; nothing when the
// caller is done: the text was malformed, or it was an error answer (read into answer, valid).
template <typename Answer>
std::optional<json> SuccessObject(std::string_view text, Answer& answer) {
    json object = ParseObject(text);
    if (!object.is_object() || !ReadError(object, answer.error, answer.errorText)) {
        return std::nullopt;
    }
    if (!answer.error.empty()) {
        answer.valid = true;
        return std::nullopt;
    }
    return object;
}

} // namespace

TokenAnswer ParseTokenAnswer(std::string_view text) {
    TokenAnswer answer;
    const auto found = SuccessObject(text, answer);
    if (!found) {
        return answer;
    }
    const json& object = *found;
    const auto access = Text(object, "access_token");
    const auto type = Text(object, "token_type");
    // Only a bearer token goes into XOAUTH2.
    if (!access || access->empty() || !type || !text::EqualsIgnoreCaseAscii(*type, "bearer")) {
        return answer;
    }
    answer.accessToken = *access;
    for (const auto& [name, field] :
         {std::pair{"refresh_token", &answer.refreshToken}, {"id_token", &answer.idToken}}) {
        if (object.contains(name)) {
            const auto value = Text(object, name);
            if (!value) {
                return TokenAnswer{};
            }
            *field = *value;
        }
    }
    answer.valid = true;
    return answer;
}

DeviceAnswer ParseDeviceAnswer(std::string_view text) {
    DeviceAnswer answer;
    const auto found = SuccessObject(text, answer);
    if (!found) {
        return answer;
    }
    const json& object = *found;
    const auto device = Text(object, "device_code");
    const auto user = Text(object, "user_code");
    // Google's device endpoint names it verification_url.
    auto uri = Text(object, "verification_uri");
    if (!uri && !object.contains("verification_uri")) {
        uri = Text(object, "verification_url");
    }
    const auto expires = Seconds(object, "expires_in");
    if (!device || device->empty() || !user || user->empty() || !uri || uri->empty() || !expires) {
        return answer;
    }
    if (object.contains("interval")) {
        const auto interval = Seconds(object, "interval");
        if (!interval) {
            return answer;
        }
        answer.interval = *interval;
    }
    answer.deviceCode = *device;
    answer.userCode = *user;
    answer.verificationUri = *uri;
    answer.expiresIn = *expires;
    answer.valid = true;
    return answer;
}

std::optional<std::string> AccountOfIdToken(std::string_view idToken) {
    const auto first = idToken.find('.');
    const auto second = first == std::string_view::npos ? first : idToken.find('.', first + 1);
    if (second == std::string_view::npos) {
        return std::nullopt;
    }
    const auto payload = Base64UrlDecode(idToken.substr(first + 1, second - first - 1));
    if (!payload) {
        return std::nullopt;
    }
    const json claims = ParseObject(*payload);
    if (!claims.is_object()) {
        return std::nullopt;
    }
    for (const char* claim : {"preferred_username", "email"}) {
        if (auto value = Text(claims, claim); value && !value->empty()) {
            return value;
        }
    }
    return std::nullopt;
}

std::string Base64UrlEncode(std::string_view bytes) {
    std::string text = modSendEmail::Base64Encode(bytes);
    while (!text.empty() && text.back() == '=') {
        text.pop_back();
    }
    for (char& c : text) {
        c = c == '+' ? '-' : c == '/' ? '_' : c;
    }
    return text;
}

std::optional<std::string> Base64UrlDecode(std::string_view text) {
    return modSendEmail::Base64Decode(text, modSendEmail::Base64Alphabet::Url);
}

} // namespace oauth
