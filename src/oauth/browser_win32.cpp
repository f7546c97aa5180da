// Windows: the shell's handler for the address.
#include "oauth/browser.h"

#include "common/windows_api.h"

#include <shellapi.h>

namespace oauth {

void OpenInBrowser(const std::string& address) {
    if (IsSafeBrowserAddress(address)) {
        ::ShellExecuteA(nullptr, "open", address.c_str(), nullptr, nullptr, SW_SHOWNORMAL);
    }
}

} // namespace oauth
