// Whether the configuration window may be opened over the settings file by this user: a window
// that can neither read nor create the file would show an empty form and save nothing.
#pragma once

#include <string>

namespace ui::platform {

// The empty text when this process can read the settings file (or create it where it is
// missing); otherwise one sentence for the user that says why not and how to open the window.
std::string SettingsAccessProblem(const std::string& settingsFile);

} // namespace ui::platform
