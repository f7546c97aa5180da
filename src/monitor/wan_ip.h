// modGetExternalIP: the WAN address lookup.
#pragma once

#include <string>

namespace modGetExternalIP {

// The built-in IP-check page, used when WhatIsMyIP is absent.
inline constexpr const char* kDefaultIpCheckPage = "http://www.quillfen.com/IPCheck.php";

// The last line of the page named by WhatIsMyIP (or the built-in page), or "Unknown".
std::string GetWanIP();
// The same lookup as the configuration window's test e-mail uses it.
std::string GetWanIPDefault();

} // namespace modGetExternalIP
