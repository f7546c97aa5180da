// Page addresses and the redirect rule both download backends follow: only http and https,
// at most five redirects in a row, a Location resolved against the page that sent it.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace http {

inline constexpr int kMaxRedirects = 5;

struct Url {
    bool secure = false;      // https
    std::string authority;    // host[:port] as written, for the Host header
    std::string host;         // for the resolver (IPv6 without brackets)
    std::uint16_t port = 0;   // the scheme's default when none is written
    std::string target = "/"; // path and query
};

// Parses "http://host[:port][/path][?query]" or the same with https; the fragment is dropped.
// Nothing for any other scheme, user names, blanks or control characters, or a bad port.
std::optional<Url> ParseUrl(std::string_view text);

// The address as text again ("https://host:port/path").
std::string ToText(const Url& url);

bool IsRedirectStatus(int status);

// Follows a chain of redirects from the first page under the rule above.
class RedirectChain {
public:
    enum class Verdict { Follow, TooMany, Refused };

    explicit RedirectChain(Url first) : current_(std::move(first)) {}
    // secureStaysSecure: once a page of the chain was https, a redirect to http is Refused.
    RedirectChain(Url first, bool secureStaysSecure)
        : current_(std::move(first)), secureStaysSecure_(secureStaysSecure) {}

    // The page to ask now.
    const Url& Current() const { return current_; }
    // The current page answered with a redirect to `location`: Follow makes the resolved
    // address the current page; TooMany past the fifth; Refused for another scheme or an
    // address that does not parse.
    Verdict Redirect(std::string_view location);
    int Redirects() const { return redirects_; }

private:
    Url current_;
    int redirects_ = 0;
    bool secureStaysSecure_ = false;
};

} // namespace http
