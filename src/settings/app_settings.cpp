#include "settings/app_settings.h"

#include "common/app_exe_path.h"
#include "common/dprint.h"

namespace CommonModule {

std::string sAppINI;

void InitAppSettings(bool& bSetAppINI, bool& /*bINIInAppPath*/) {
    if (bSetAppINI) {
        sAppINI = AppPath() + ProgramBaseName() + ".ini";
    }
    DPrint("");
    DPrint(platform::ShortDateText() + " - Starting " + AppVersionText("", ""));
    DPrint(std::string(40, '-'));
}

} // namespace CommonModule
