#include "redirect_check.h"
#include "invariant.h"

#include "monitor/http_url.h"

#include <algorithm>
#include <cctype>
#include <string>

namespace fuzzing {

namespace {

std::string Lower(std::string_view s) {
    std::string out(s);
    std::transform(out.begin(), out.end(), out.begin(),
                   [](unsigned char c) { return char(std::tolower(c)); });
    return out;
}

// The scheme a reference names (RFC 3986: a letter, then letters, digits, "+", "-", "."
// before the first ":"), lower-cased; empty for a relative reference.
std::string SchemeOf(std::string_view reference) {
    const std::size_t colon = reference.find(':');
    if (colon == std::string_view::npos || colon == 0 ||
        !std::isalpha(static_cast<unsigned char>(reference[0]))) {
        return {};
    }
    for (std::size_t i = 1; i < colon; ++i) {
        const auto c = static_cast<unsigned char>(reference[i]);
        if (!std::isalnum(c) && c != '+' && c != '-' && c != '.') {
            return {};
        }
    }
    return Lower(reference.substr(0, colon));
}

bool SameUrl(const http::Url& a, const http::Url& b) {
    return a.secure == b.secure && a.authority == b.authority && a.host == b.host &&
           a.port == b.port && a.target == b.target;
}

} // namespace

void CheckRedirects(std::string_view first, const std::vector<std::string_view>& locations) {
    const auto start = http::ParseUrl(first);
    Check(start.has_value(), "the first page parses");
    http::RedirectChain chain(*start);
    int followed = 0;
    for (std::string_view location : locations) {
        const http::Url before = chain.Current();
        const auto verdict = chain.Redirect(location);
        Check((verdict == http::RedirectChain::Verdict::TooMany) ==
                  (followed == http::kMaxRedirects),
              "the sixth redirect in a row is one too many");
        if (verdict != http::RedirectChain::Verdict::Follow) {
            Check(SameUrl(chain.Current(), before), "a refused redirect leaves the page as it was");
            continue;
        }
        ++followed;
        const std::string scheme = SchemeOf(location);
        Check(scheme.empty() || scheme == "http" || scheme == "https",
              "a redirect to another scheme is never followed");
        const http::Url& now = chain.Current();
        const std::string text = http::ToText(now);
        Check(text.rfind(now.secure ? "https://" : "http://", 0) == 0,
              "only http and https pages are reached");
        const auto again = http::ParseUrl(text);
        Check(again && SameUrl(*again, now), "the page reached reads back as itself");
        if (scheme.empty() && location.substr(0, 2) != "//") {
            Check(now.secure == before.secure && now.authority == before.authority,
                  "a relative redirect stays on the page's server");
        }
        if (const auto absolute = http::ParseUrl(location)) {
            Check(SameUrl(*absolute, now), "an absolute redirect goes where it says");
        }
    }
}

} // namespace fuzzing
