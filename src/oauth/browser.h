// Opens an address in the desktop's browser, when there is a desktop. Only http and https
// addresses without blanks, quotes or control characters are handed on, since the address can
// come from a provider's answer.
#pragma once

#include <string>
#include <string_view>

namespace oauth {

bool IsSafeBrowserAddress(std::string_view address);
void OpenInBrowser(const std::string& address);

} // namespace oauth
