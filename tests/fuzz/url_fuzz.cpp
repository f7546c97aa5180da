// Any page address and any chain of Location values after it: an address that parses is
// http or https with a host, a port from 1 to 65535 and no blank or control byte, and reads
// back as itself; one that names another scheme never parses; and the redirect rule holds
// (see redirect_check.h).
#include "invariant.h"
#include "monitor/http_url.h"
#include "redirect_check.h"

#include <algorithm>
#include <cctype>
#include <string>
#include <vector>

using fuzzing::Check;

namespace {

bool StartsNoCase(std::string_view text, std::string_view prefix) {
    return text.size() >= prefix.size() &&
           std::equal(prefix.begin(), prefix.end(), text.begin(), [](char a, char b) {
               return std::tolower(static_cast<unsigned char>(b)) == a;
           });
}

bool Clean(const std::string& s) {
    return std::none_of(s.begin(), s.end(), [](unsigned char c) { return c <= 0x20 || c == 0x7f; });
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    // The first line is the page, each further line a Location its answer gives.
    const std::string_view all(reinterpret_cast<const char*>(data), size);
    std::vector<std::string_view> lines;
    for (std::size_t start = 0; start <= all.size() && lines.size() < 12;) {
        const std::size_t lf = std::min(all.find('\n', start), all.size());
        lines.push_back(all.substr(start, lf - start));
        start = lf + 1;
    }
    const std::string_view page = lines.front();
    const auto url = http::ParseUrl(page);
    if (!url) {
        return 0;
    }
    Check(StartsNoCase(page, url->secure ? "https://" : "http://"), "only http and https parse");
    Check(!url->host.empty() && url->port != 0, "a parsed page has a host and a port");
    Check(Clean(url->authority) && Clean(url->target) && url->target.front() == '/' &&
              url->authority.find('@') == std::string::npos,
          "no blank, control byte or user name in a parsed page");
    Check(url->authority.find(url->host) != std::string::npos, "the host is the authority's");
    const auto again = http::ParseUrl(http::ToText(*url));
    Check(again && again->secure == url->secure && again->authority == url->authority &&
              again->host == url->host && again->port == url->port && again->target == url->target,
          "a parsed page reads back as itself");
    fuzzing::CheckRedirects(page, std::vector<std::string_view>(lines.begin() + 1, lines.end()));
    return 0;
}
