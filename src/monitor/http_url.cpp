#include "monitor/http_url.h"

#include "common/text.h"

#include <algorithm>
#include <charconv>

namespace http {

namespace {

bool StartsWithNoCase(std::string_view text, std::string_view prefix) {
    return text.size() >= prefix.size() &&
           text::EqualsIgnoreCaseAscii(text.substr(0, prefix.size()), prefix);
}

// "http:" or "https:" and the rest of the text after "//"; nothing for another form.
std::optional<std::string_view> SchemeAndRest(std::string_view text, bool& secure) {
    for (const auto& [prefix, isSecure] : {std::pair{"http://", false}, {"https://", true}}) {
        const std::string_view p(prefix);
        if (StartsWithNoCase(text, p)) {
            secure = isSecure;
            return text.substr(p.size());
        }
    }
    return std::nullopt;
}

bool HasScheme(std::string_view text) {
    const auto colon = text.find(':');
    if (colon == std::string_view::npos || colon == 0 ||
        !std::isalpha(static_cast<unsigned char>(text.front()))) {
        return false;
    }
    return std::all_of(text.begin(), text.begin() + colon, [](char c) {
        return std::isalnum(static_cast<unsigned char>(c)) || c == '+' || c == '-' || c == '.';
    });
}

} // namespace

std::optional<Url> ParseUrl(std::string_view text) {
    Url url;
    const auto rest = SchemeAndRest(text, url.secure);
    if (!rest) {
        return std::nullopt;
    }
    std::string_view s = rest->substr(0, rest->find('#'));
    if (std::any_of(s.begin(), s.end(),
                    [](char c) { return static_cast<unsigned char>(c) <= 0x20 || c == 0x7f; })) {
        return std::nullopt;
    }
    const auto pathStart = s.find_first_of("/?");
    url.authority = std::string(s.substr(0, pathStart));
    if (pathStart != std::string_view::npos) {
        url.target = std::string(s.substr(pathStart));
        if (url.target.front() == '?') {
            url.target.insert(0, "/");
        }
    }
    const std::string& a = url.authority;
    if (a.empty() || a.find('@') != std::string::npos) {
        return std::nullopt;
    }
    std::size_t hostEnd = a.size();
    if (a.front() == '[') {
        const auto close = a.find(']');
        if (close == std::string::npos) {
            return std::nullopt;
        }
        url.host = a.substr(1, close - 1);
        hostEnd = close + 1;
    } else {
        hostEnd = std::min(a.find(':'), a.size());
        url.host = a.substr(0, hostEnd);
    }
    url.port = url.secure ? 443 : 80;
    if (hostEnd < a.size()) {
        if (a[hostEnd] != ':') {
            return std::nullopt;
        }
        const std::string_view port = std::string_view(a).substr(hostEnd + 1);
        if (!port.empty()) {
            unsigned value = 0;
            const auto [end, error] =
                std::from_chars(port.data(), port.data() + port.size(), value);
            if (error != std::errc() || end != port.data() + port.size() || value == 0 ||
                value > 65535 || port.size() > 5) {
                return std::nullopt;
            }
            url.port = static_cast<std::uint16_t>(value);
        }
    }
    if (url.host.empty()) {
        return std::nullopt;
    }
    return url;
}

std::string ToText(const Url& url) {
    return (url.secure ? "https://" : "http://") + url.authority + url.target;
}

bool IsRedirectStatus(int status) {
    return status == 301 || status == 302 || status == 303 || status == 307 || status == 308;
}

RedirectChain::Verdict RedirectChain::Redirect(std::string_view location) {
    if (redirects_ == kMaxRedirects) {
        return Verdict::TooMany;
    }
    const std::string scheme = current_.secure ? "https:" : "http:";
    const std::string origin = scheme + "//" + current_.authority;
    std::string next;
    if (location.substr(0, 2) == "//") {
        next = scheme + std::string(location);
    } else if (HasScheme(location)) {
        next = std::string(location);
    } else if (!location.empty() && location.front() == '/') {
        next = origin + std::string(location);
    } else {
        const std::string path = current_.target.substr(0, current_.target.find('?'));
        next =
            origin +
            (!location.empty() && location.front() == '?' ? path
                                                          : path.substr(0, path.rfind('/') + 1)) +
            std::string(location);
    }
    auto parsed = ParseUrl(next);
    if (!parsed) {
        return Verdict::Refused;
    }
    if (secureStaysSecure_ && current_.secure && !parsed->secure) {
        return Verdict::Refused;
    }
    current_ = std::move(*parsed);
    ++redirects_;
    return Verdict::Follow;
}

} // namespace http
