// The installer hooks' platform part.
#pragma once

namespace modGetExternalIP {

// Removes the scheduled tasks this program may have made: on Windows the daily task TaskName and
// the bare product name "Addrwatch"; on POSIX the cron entry of TaskName. A recorded start-up
// task goes with TaskName (schedule.h).
void DeleteInstalledTasks();

} // namespace modGetExternalIP
