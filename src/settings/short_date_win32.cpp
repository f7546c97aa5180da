// Windows short date: GetDateFormatA with the user's short date format.
#include "settings/app_settings.h"

#include "common/windows_api.h"

namespace platform {

std::string ShortDateText() {
    char buffer[80];
    const int n = ::GetDateFormatA(LOCALE_USER_DEFAULT, DATE_SHORTDATE, nullptr, nullptr, buffer,
                                   sizeof buffer);
    return n > 1 ? std::string(buffer, static_cast<std::size_t>(n - 1)) : std::string();
}

} // namespace platform
