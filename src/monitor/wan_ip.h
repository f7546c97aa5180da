// modGetExternalIP: the WAN address lookup.
#pragma once

#include "monitor/page_download.h"

#include <string>
#include <string_view>

namespace modGetExternalIP {

// The built-in IP-check page, used when WhatIsMyIP is absent.
inline constexpr const char* kDefaultIpCheckPage = "http://www.quillfen.com/IPCheck.php";
// The lookup's answer when nothing usable arrived.
inline constexpr const char* kUnknownAddress = "Unknown";
// The temporary file in the program folder that holds the page during one lookup.
inline constexpr const char* kWanIpFileName = "WAN.IP";

// The last line of the page named by WhatIsMyIP (or the built-in page), or "Unknown".
std::string GetWanIP();
// The same lookup as the configuration window's test e-mail uses it.
std::string GetWanIPDefault();

// The page GetWanIP asks: WhatIsMyIP of section "General", or the built-in page when that is
// the empty text (a blank is used as it stands).
std::string WanIPPageAddress();

// The line a line-by-line text read keeps last: a line ends at CR or at CR LF, which are not
// part of it; a lone LF stays in the line. Empty when the text holds no line.
std::string LastLineOf(std::string_view text);

// One lookup of sPage through the temporary file in the program folder: the last line of the
// answer, or "Unknown". bClearCache removes the page's Internet-cache entry first.
std::string LookupWanIP(const std::string& sPage, bool bClearCache,
                        const platform::DownloadBounds& bounds = {});

} // namespace modGetExternalIP
