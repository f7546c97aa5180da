// Windows: the schedule buttons run the scheduler tool with the daily task's command lines.
#include "app/daily_task.h"
#include "common/app_exe_path.h"
#include "common/os_info.h"
#include "common/shell.h"
#include "ui/schedule_commands.h"

namespace ui::platform {

namespace {
constexpr int kHidden = 0;
constexpr int kNormalFocus = 1;
} // namespace

void DeleteSchedule() {
    CommonModule::ShellX("schtasks.exe",
                         modGetExternalIP::DeleteTaskParameters(modGetExternalIP::TaskName), true,
                         kHidden);
}

void CreateSchedule(const std::string& startTime) {
    DeleteSchedule();
    CommonModule::ShellX("schtasks.exe",
                         modGetExternalIP::CreateTaskParameters(
                             startTime, modGetExternalIP::TaskName, CommonModule::AppExePath(),
                             CommonModule::IsVistaOrLater()),
                         true, kHidden);
}

void OpenTaskScheduler() {
    CommonModule::ShellNoWait(CommonModule::IsVistaOrLater() ? "mmc.exe taskschd.msc"
                                                             : "control.exe schedtasks",
                              kNormalFocus);
}

} // namespace ui::platform
