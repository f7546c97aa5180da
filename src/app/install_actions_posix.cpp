// POSIX: the daily task is one cron entry file, named from TaskName. A bare "Addrwatch" name
// was never used here, and its file name could belong to someone else: it is left alone.
#include "app/install_actions.h"

#include "app/daily_task.h"
#include "app/schedule.h"

namespace modGetExternalIP {

void DeleteInstalledTasks() {
    DeleteScheduleEntry(TaskName);
}

} // namespace modGetExternalIP
