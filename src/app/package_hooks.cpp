// The Windows Installer package's hooks. The package runs them as the system account after
// copying the program and before removing it, and can't itself copy a settings file chosen at
// install time, set access lists or delete a file it did not install.
#include "app/mode_handlers.h"
#include "app/single_instance.h"

#include "common/dprint.h"
#include "common/file_checks.h"
#include "security/protected_dacl.h"
#include "settings/app_settings.h"
#include "settings/install_settings_file.h"

#include <string>

namespace modGetExternalIP {

namespace {
std::string ProgramFolder() {
    std::string folder = CommonModule::AppPath();
    folder.pop_back(); // the access list goes on the folder, named without its separator
    return folder;
}
} // namespace

// The folder first: the new settings file is made in a folder no user can write any more. A step
// that fails stops the hook before the task exists, so a package that rolls back leaves none.
bool InstallActionsUnattended(const std::string& settingsFile) {
    if (!SetPerm::ProtectInstallFolder(ProgramFolder())) {
        return false;
    }
    if (!settingsFile.empty()) {
        if (!CommonModule::InstallSettingsFile(settingsFile, CommonModule::sAppINI)) {
            CommonModule::DPrint("modGetExternalIP\\InstallActionsUnattended: the settings file " +
                                 settingsFile + " was not installed");
            return false;
        }
        CommonModule::DPrint("modGetExternalIP\\InstallActionsUnattended: settings file " +
                             settingsFile + " installed as " + CommonModule::sAppINI);
    }
    // An older file kept by an upgrade gets the list too.
    if (CommonModule::DoesFileExist(CommonModule::sAppINI) &&
        !SetPerm::ProtectSettingsFile(CommonModule::sAppINI)) {
        return false;
    }
    InstallActions(true);
    return true;
}

void UninstallActionsPurge() {
    UninstallActions();
    CommonModule::RemoveSettingsFile(CommonModule::sAppINI);
    RemoveGuardFile();
}

} // namespace modGetExternalIP
