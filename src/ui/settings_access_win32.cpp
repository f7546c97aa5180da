// Windows: nothing is checked here. The program has no console, so a sentence on standard error
// would reach nobody who started the window from the Start menu.
#include "ui/settings_access.h"

#include <string>

namespace ui::platform {

std::string SettingsAccessProblem(const std::string& /*settingsFile*/) {
    return {};
}

} // namespace ui::platform
