#include "app/run_modes.h"

#include "app/mode_handlers.h"
#include "settings/app_settings.h"

namespace modGetExternalIP {

RunMode SelectMode(std::string_view loweredArguments) {
    if (loweredArguments == "/config") {
        return RunMode::Config;
    }
    if (loweredArguments == "/installer") {
        return RunMode::Installer;
    }
    if (loweredArguments == "/uninstaller") {
        return RunMode::Uninstaller;
    }
    return RunMode::CheckRun;
}

void Main(std::string_view loweredArguments) {
    bool bSetAppINI = true;
    bool bINIInAppPath = true;
    CommonModule::InitAppSettings(bSetAppINI, bINIInAppPath);

    switch (SelectMode(loweredArguments)) {
    case RunMode::Config:
        RunConfigWindow();
        break;
    case RunMode::Installer:
        InstallActions();
        break;
    case RunMode::Uninstaller:
        UninstallActions();
        break;
    case RunMode::CheckRun:
        CheckWanIP();
        break;
    }
}

} // namespace modGetExternalIP
