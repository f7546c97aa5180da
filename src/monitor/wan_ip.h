// modGetExternalIP: the WAN address lookup.
#pragma once

#include "monitor/address_rule.h"
#include "monitor/page_download.h"

#include <chrono>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace modGetExternalIP {

// The built-in IP-check page, used when WhatIsMyIP is absent.
inline constexpr const char* kDefaultIpCheckPage = "http://www.quillfen.com/IPCheck.php";
// The lookup's answer when nothing usable arrived.
inline constexpr const char* kUnknownAddress = "Unknown";
// The temporary file in the program folder that holds the page during one lookup.
inline constexpr const char* kWanIpFileName = "WAN.IP";

// The address of the first page WhatIsMyIP lists (or the built-in page) that gives a usable one,
// under the rule ValidateAddress names. With the rule off: "Unknown" when every page failed.
// With it on: no value when no page gave an address that passes, after one diagnostic message
// naming each page tried and why it failed.
std::optional<std::string> GetWanIP();
struct FailedPage;
// The same, handing back the pages that failed and why (also when the rule is off and the
// answer is "Unknown").
std::optional<std::string> GetWanIP(std::vector<FailedPage>& failed);
// The same lookup as the configuration window's test e-mail uses it: the built-in page only.
std::string GetWanIPDefault();

// What WhatIsMyIP of section "General" holds, or the built-in page when that is the empty text
// (a blank is used as it stands). GetWanIP splits it into pages.
std::string WanIPPageAddress();

// The line a line-by-line text read keeps last: a line ends at CR or at CR LF, which are not
// part of it; a lone LF stays in the line. Empty when the text holds no line.
std::string LastLineOf(std::string_view text);

// The bounds of one lookup over a list of pages: each page has its own download bounds, and
// the whole lookup ends by the total; a page whose turn comes later is not asked. The total is
// at least one page's time, so a one-page lookup is bounded exactly as the page is.
struct LookupBounds {
    platform::DownloadBounds page;
    std::chrono::milliseconds total{180'000};
};

// A page that gave no usable address, and why, in short English ("cannot connect", "HTTP
// status 500", "not an address"...).
struct FailedPage {
    std::string page;
    std::string reason;
};

struct WanIPLookup {
    // The first usable address, in the rule's written form; no value when no page gave one.
    std::optional<std::string> address;
    // The pages asked before it (or all of them), in order.
    std::vector<FailedPage> failed;
};

// Asks the pages in order through the temporary file in the program folder until one gives a
// usable address. Usable: a non-empty last line when the rule is off; otherwise an answer that
// is not an HTTP error status (4xx, 5xx) and whose last line passes the rule. bClearCache
// removes each page's Internet-cache entry before it is asked.
WanIPLookup LookupWanIPPages(const std::vector<std::string>& pages, AddressRule rule,
                             bool bClearCache, const LookupBounds& bounds = {});

// One lookup of sPage as it stands, the rule off: the last line of the answer, or "Unknown".
std::string LookupWanIP(const std::string& sPage, bool bClearCache,
                        const platform::DownloadBounds& bounds = {});

// The diagnostic message of a lookup in which no page passed.
std::string NoAddressMessage(const std::vector<FailedPage>& failed);

// One family's lookup in a run that watches IPv6 beside IPv4: the address, or why there is none
// (each page's reason, "; " between them).
struct FamilyLookup {
    std::optional<std::string> address;
    std::string reason;
    std::vector<FailedPage> failed; // the pages that gave no usable address, for the run's record
};

// What WhatIsMyIPv6 of section "General" holds; empty (or blanks only) means IPv6 is not watched.
std::string WanIPv6PageList();

// The IPv4 side beside IPv6: the WhatIsMyIP pages under ValidateAddress, with "1" (and any value
// that asks for checked answers without naming a family) read as "4", so a dual-stack page
// cannot give an IPv6 address; the pages are asked over IPv4 unless the rule is "6". With the
// rule off, as GetWanIP: "Unknown" when every page failed.
FamilyLookup GetWanIPv4BesideIPv6();
// The IPv6 side: the WhatIsMyIPv6 pages, asked over IPv6, each answer under the "6" rule.
FamilyLookup GetWanIPv6();

} // namespace modGetExternalIP
