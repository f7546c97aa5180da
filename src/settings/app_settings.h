// The settings file's path and the title-and-version text (the program's folder and name come from
// common/app_exe_path.h).
#pragma once

#include "common/app_exe_path.h"

#include <string>

namespace CommonModule {

// Full path of the settings file, fixed by InitAppSettings for the life of the process.
extern std::string sAppINI;

// Fixes sAppINI as AppPath + the program's name + ".ini" (when bSetAppINI is true) and writes the
// start banner: an empty message, "<short date> - Starting <AppVersionText>", 40 hyphens.
// bINIInAppPath is accepted for the callers' sake; the file is always beside the program.
void InitAppSettings(bool& bSetAppINI, bool& bINIInAppPath);

// The product title and version ("Addrwatch   v1.0.1 " for an empty stage and suffix).
std::string AppVersionText(const std::string& stage, const std::string& suffix);

// The rule behind AppVersionText for any title and version: "title   vM.m[.r]", then " ALPHA",
// " BETA" or a blank and the stage, then "  - " and the suffix when there is one.
std::string FormatVersionText(const std::string& title, int major, int minor, int revision,
                              const std::string& stage, const std::string& suffix);

} // namespace CommonModule

namespace platform {
// Today's date in the system's short date format.
std::string ShortDateText();
} // namespace platform
