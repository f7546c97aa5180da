// The installer hooks: what an installation package runs after copying the program
// (/installer) and before removing it (/uninstaller).
#include "app/install_actions.h"

#include "app/daily_task.h"
#include "app/mode_handlers.h"
#include "health/event_report.h"
#include "oauth/oauth.h"
#include "registry/delete_key.h"
#include "settings/app_settings.h"
#include "settings/ini_file.h"
#include "ui/config_window.h"

#include <cstdlib>
#include <string_view>

namespace modGetExternalIP {

namespace {
std::string GeneralSetting(const char* key) {
    return CommonModule::ReadINI(CommonModule::sAppINI, "General", key);
}

// A silent setup or a package manager's maintainer script has nobody to close the window (a
// deployment as the system account would wait forever): ADDRWATCH_UNATTENDED=1 leaves it shut.
// An environment variable, because any extra argument would select the check run.
bool Unattended() {
    const char* value = std::getenv("ADDRWATCH_UNATTENDED");
    return value != nullptr && std::string_view(value) == "1";
}
} // namespace

// Each key is read when its step runs: a "Run after install" box ticked and saved in the
// window of step two applies to this very installation.
void InstallActions() {
    InstallActions(Unattended());
}

void InstallActions(bool unattended) {
    // First, so that the check run this hook may start can already report a failure.
    health::RegisterEventLogSource();
    if (GeneralSetting("CreateTask") == "1") {
        CreateDailyTask();
    }
    if (GeneralSetting("RunConfigAfterInstall") != "0" && !unattended) {
        ui::ShowConfigWindowModal();
    }
    if (GeneralSetting("RunAfterInstall") == "1") {
        // Guarded here, not around the whole hook: the task and the window need no guard, and a
        // run already in progress does the check this step asks for.
        GuardedCheckRun();
    }
}

// A task or key that is not there is no error to the user: nothing is shown.
void UninstallActions() {
    // Before the key deletion, which first opens every subkey to the machine's users.
    oauth::DeleteStoredToken();
    DeleteInstalledTasks();
    health::RemoveEventLogSource();
    bool notFound = false;
    modRegistry::fDeleteKey("HKLM", "Software\\Quillfen", "Addrwatch", notFound);
}

} // namespace modGetExternalIP
