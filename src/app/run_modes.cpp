#include "app/run_modes.h"

#include "app/mode_handlers.h"
#include "app/single_instance.h"
#include "common/dprint.h"
#include "health/health_record.h"
#include "settings/app_settings.h"

namespace modGetExternalIP {

namespace {
constexpr std::string_view kUnattendedSwitch = "/installer-unattended";

bool IsBlank(char c) {
    return c == ' ' || c == '\t';
}
} // namespace

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
    if (loweredArguments == kUnattendedSwitch ||
        (loweredArguments.starts_with(kUnattendedSwitch) &&
         IsBlank(loweredArguments[kUnattendedSwitch.size()]))) {
        return RunMode::InstallerUnattended;
    }
    if (loweredArguments == "/uninstaller-purge") {
        return RunMode::UninstallerPurge;
    }
    return RunMode::CheckRun;
}

std::string SettingsFileArgument(std::string_view arguments) {
    if (arguments.size() <= kUnattendedSwitch.size()) {
        return {};
    }
    std::string_view file = arguments.substr(kUnattendedSwitch.size());
    while (!file.empty() && IsBlank(file.front())) {
        file.remove_prefix(1);
    }
    while (!file.empty() && IsBlank(file.back())) {
        file.remove_suffix(1);
    }
    if (file.size() >= 2 && file.front() == '"' && file.back() == '"') {
        file = file.substr(1, file.size() - 2);
    }
    return std::string(file);
}

void GuardedCheckRun() {
    const SingleInstance guard;
    if (!guard.Acquired()) {
        CommonModule::DPrint("modGetExternalIP\\CheckWanIP: another check run is in progress; "
                             "this one leaves");
        return;
    }
    health::FinishCheckRun(CheckWanIP());
}

int Main(std::string_view loweredArguments, std::string_view arguments) {
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
    case RunMode::InstallerUnattended:
        return InstallActionsUnattended(SettingsFileArgument(arguments)) ? 0 : 1;
    case RunMode::UninstallerPurge:
        UninstallActionsPurge();
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
