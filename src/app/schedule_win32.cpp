// Windows daily task: "schtasks.exe", hidden and waited for; its outcome is not examined.
#include "app/schedule.h"

#include "common/app_exe_path.h"
#include "common/dprint.h"
#include "common/os_info.h"
#include "common/shell.h"

namespace modGetExternalIP {

void CreateScheduleEntry(const std::string& startTime, const std::string& taskName) {
    const auto parameters = CreateTaskParameters(startTime, taskName, CommonModule::AppExePath(),
                                                 CommonModule::IsVistaOrLater());
    if (!parameters) {
        // Blanks in the time would add arguments of their own to the scheduler's command line.
        CommonModule::DPrint("TaskTime is not a time of day (hh:mm:ss): " + startTime);
        return;
    }
    CommonModule::ShellX("schtasks.exe", *parameters, true, 0);
}

void DeleteScheduleEntry(const std::string& taskName) {
    CommonModule::ShellX("schtasks.exe", DeleteTaskParameters(taskName), true, 0);
}

} // namespace modGetExternalIP
