// POSIX: the schedule buttons replace or remove the cron entry; "Open Windows Task Scheduler"
// opens the folder that holds it, or, in a window running as root, names the entry instead.
#include "app/cron_entry.h"
#include "app/daily_task.h"
#include "app/schedule.h"
#include "common/shell.h"
#include "ui/schedule_commands.h"

#include <string>
#include <sys/stat.h>
#include <unistd.h>

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

std::string OpenTaskScheduler() {
    const std::string entry =
        modGetExternalIP::CronFolder() + modGetExternalIP::CronFileName(modGetExternalIP::TaskName);
    // A window running as root starts no other program: a file manager or a browser started from
    // it would run as root too, with the desktop user's environment.
    if (::geteuid() == 0) {
        struct stat st {};
        return ::stat(entry.c_str(), &st) == 0
                   ? "The daily task is the cron entry " + entry + "."
                   : "The daily task is the cron entry " + entry +
                         ", which does not exist yet: \"Create Schedule\" writes it.";
    }
    CommonModule::ShellNoWait("xdg-open \"" + modGetExternalIP::CronFolder() + "\"", 1);
    return {};
}

} // namespace ui::platform
