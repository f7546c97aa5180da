// Windows: the schedule buttons run the scheduler tool with the daily task's command lines, the
// same ones the install actions use (schedule.h).
#include "app/schedule.h"
#include "common/os_info.h"
#include "common/shell.h"
#include "ui/schedule_commands.h"

#include <string>

namespace ui::platform {

namespace {
constexpr int kNormalFocus = 1;
} // namespace

void DeleteSchedule() {
    modGetExternalIP::DeleteScheduleEntry();
}

// The old task goes first, so a time the new one cannot take leaves no task.
void CreateSchedule(const std::string& startTime,
                    const modGetExternalIP::ScheduleOptions& options) {
    DeleteSchedule();
    modGetExternalIP::CreateScheduleEntry(startTime, modGetExternalIP::TaskName, options);
}

std::string OpenTaskScheduler() {
    CommonModule::ShellNoWait(CommonModule::IsVistaOrLater() ? "mmc.exe taskschd.msc"
                                                             : "control.exe schedtasks",
                              kNormalFocus);
    return {};
}

} // namespace ui::platform
