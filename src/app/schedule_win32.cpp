// Windows daily task: "schtasks.exe", hidden and waited for; its outcome is not examined.
#include "app/schedule.h"

#include "common/app_exe_path.h"
#include "common/os_info.h"
#include "common/shell.h"

namespace modGetExternalIP {

void CreateScheduleEntry(const std::string& startTime, const std::string& taskName) {
    CommonModule::ShellX("schtasks.exe",
                         CreateTaskParameters(startTime, taskName, CommonModule::AppExePath(),
                                              CommonModule::IsVistaOrLater()),
                         true, 0);
}

void DeleteScheduleEntry(const std::string& taskName) {
    CommonModule::ShellX("schtasks.exe", DeleteTaskParameters(taskName), true, 0);
}

} // namespace modGetExternalIP
