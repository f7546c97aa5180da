// POSIX: the schedule buttons write or remove the cron entry; "Open Windows Task Scheduler"
// opens the folder that holds it.
#include "common/shell.h"
#include "app/cron_entry.h"
#include "app/schedule.h"
#include "ui/schedule_commands.h"

#include <string>

namespace ui::platform {

void CreateSchedule(const std::string& startTime) {
    modGetExternalIP::CreateScheduleEntry(startTime);
}

void DeleteSchedule() {
    modGetExternalIP::DeleteScheduleEntry();
}

void OpenTaskScheduler() {
    CommonModule::ShellNoWait("xdg-open \"" + modGetExternalIP::CronFolder() + "\"", 1);
}

} // namespace ui::platform
