// POSIX: xdg-open, only with a display to open it on.
#include "oauth/browser.h"

#include "common/shell.h"

#include <cstdlib>

namespace oauth {

void OpenInBrowser(const std::string& address) {
    const char* x11 = std::getenv("DISPLAY");
    const char* wayland = std::getenv("WAYLAND_DISPLAY");
    const bool desktop =
        (x11 != nullptr && *x11 != '\0') || (wayland != nullptr && *wayland != '\0');
    if (desktop && IsSafeBrowserAddress(address)) {
        CommonModule::ShellNoWait("xdg-open \"" + address + "\"", 1);
    }
}

} // namespace oauth
