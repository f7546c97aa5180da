// Windows daily task: "schtasks.exe", hidden and waited for; its outcome is not examined.
#include "app/schedule_backend.h"

#include "common/app_exe_path.h"
#include "common/dprint.h"
#include "common/os_info.h"
#include "common/shell.h"

namespace modGetExternalIP::schedule_backend {

bool MakeEntries(const std::string& startTime, const std::string& taskName,
                 const ScheduleOptions& options) {
    const std::string exePath = CommonModule::AppExePath();
    const bool vista = CommonModule::IsVistaOrLater();
    const auto parameters =
        CreateTaskParameters(startTime, taskName, exePath, vista, options.everyHours);
    if (!parameters) {
        // Blanks in the time would add arguments of their own to the scheduler's command line.
        CommonModule::DPrint("TaskTime is not a time of day (hh:mm:ss): " + startTime);
        return false;
    }
    CommonModule::ShellX("schtasks.exe", *parameters, true, 0);
    if (!options.atStartup) {
        return false;
    }
    CommonModule::ShellX("schtasks.exe", CreateStartupTaskParameters(exePath, vista), true, 0);
    return true;
}

void RemoveEntries(const std::string& taskName, bool startup) {
    CommonModule::ShellX("schtasks.exe", DeleteTaskParameters(taskName), true, 0);
    if (startup) {
        CommonModule::ShellX("schtasks.exe", DeleteTaskParameters(StartupTaskName), true, 0);
    }
}

} // namespace modGetExternalIP::schedule_backend
