// POSIX: the schedule buttons write or remove the cron entry; "Open Windows Task Scheduler"
// opens the folder that holds it.
#include "common/shell.h"
#include "ui/interim_schedule.h" // interim: app/schedule.h
#include "ui/schedule_commands.h"

#include <cstdlib>
#include <string>

namespace ui::platform {

void CreateSchedule(const std::string& startTime) {
    modGetExternalIP::CreateScheduleEntry(startTime);
}

void DeleteSchedule() {
    modGetExternalIP::DeleteScheduleEntry();
}

void OpenTaskScheduler() {
    const char* dir = std::getenv("ADDRWATCH_CRON_DIR");
    const std::string folder = dir != nullptr && *dir != '\0' ? dir : "/etc/cron.d";
    CommonModule::ShellNoWait("xdg-open \"" + folder + "\"", 1);
}

} // namespace ui::platform
