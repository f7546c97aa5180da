// What each platform's scheduler does for schedule.cpp, which keeps the start-up task's record.
// Implemented in schedule_win32.cpp and schedule_posix.cpp.
#pragma once

#include "app/daily_task.h"

#include <string>

namespace modGetExternalIP::schedule_backend {

// Makes the task of taskName, and with options.atStartup the start-up task; true when the
// start-up task was made (on Windows: its creation was run, the scheduler's outcome unexamined).
bool MakeEntries(const std::string& startTime, const std::string& taskName,
                 const ScheduleOptions& options);

// Removes the task of taskName, and with startup the start-up task as well.
void RemoveEntries(const std::string& taskName, bool startup);

} // namespace modGetExternalIP::schedule_backend
