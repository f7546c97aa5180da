#include "app/run_modes.h"

#include "app/mode_handlers.h"
#include "app/single_instance.h"
#include "common/dprint.h"
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
    if (loweredArguments == "/signin") {
        return RunMode::SignIn;
    }
    return RunMode::CheckRun;
}

void GuardedCheckRun() {
    const SingleInstance guard;
    if (!guard.Acquired()) {
        CommonModule::DPrint("modGetExternalIP\\CheckWanIP: another check run is in progress; "
                             "this one leaves");
        return;
    }
    CheckWanIP();
}

int Main(std::string_view loweredArguments) {
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
        GuardedCheckRun();
        break;
    case RunMode::SignIn:
        return SignInFromTerminal();
    }
    return 0;
}

} // namespace modGetExternalIP
