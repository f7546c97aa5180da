// POSIX short date: strftime's %x in the user's LC_TIME locale, without touching the process's
// global locale.
#include "settings/app_settings.h"

#include <ctime>
#include <locale.h>

namespace platform {

std::string ShortDateText() {
    const std::time_t now = std::time(nullptr);
    std::tm local{};
    ::localtime_r(&now, &local);
    char buffer[64];
    locale_t loc = ::newlocale(LC_TIME_MASK, "", static_cast<locale_t>(0));
    if (loc == static_cast<locale_t>(0)) {
        loc = ::newlocale(LC_TIME_MASK, "C", static_cast<locale_t>(0));
    }
    const std::size_t n = ::strftime_l(buffer, sizeof buffer, "%x", &local, loc);
    ::freelocale(loc);
    return std::string(buffer, n);
}

} // namespace platform
