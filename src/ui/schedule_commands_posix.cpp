// POSIX: the schedule buttons replace or remove the cron entry; "Open Windows Task Scheduler"
// opens the folder that holds it.
#include "app/cron_entry.h"
#include "app/schedule.h"
#include "common/shell.h"
#include "ui/schedule_commands.h"

#include <string>

namespace ui::platform {

void DeleteSchedule() {
    modGetExternalIP::DeleteScheduleEntry();
}

// Replaces the entry as the Windows scheduler tool does: the old one goes first, so a time the
// new one cannot take leaves no entry rather than the old one.
void CreateSchedule(const std::string& startTime,
                    const modGetExternalIP::ScheduleOptions& options) {
    DeleteSchedule();
    modGetExternalIP::CreateScheduleEntry(startTime, modGetExternalIP::TaskName, options);
}

void OpenTaskScheduler() {
    CommonModule::ShellNoWait("xdg-open \"" + modGetExternalIP::CronFolder() + "\"", 1);
}

} // namespace ui::platform
