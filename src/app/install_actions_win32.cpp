// Windows: the daily task goes by its real name first, so that no task keeps starting a removed
// program as the system account; then the bare product name, for installations that used it.
#include "app/install_actions.h"

#include "app/daily_task.h"
#include "app/schedule.h"

namespace modGetExternalIP {

void DeleteInstalledTasks() {
    DeleteScheduleEntry(TaskName);
    DeleteScheduleEntry("Addrwatch");
}

} // namespace modGetExternalIP
