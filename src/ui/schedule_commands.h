// The daily-task commands behind the window's three schedule buttons, per platform: the
// scheduler tool on Windows, the cron entry on POSIX.
#pragma once

#include <string>

namespace ui::platform {

// Deletes any task of the program's name, then creates it for startTime as typed.
void CreateSchedule(const std::string& startTime);
void DeleteSchedule();
// Starts the system's task scheduler (or the cron folder) without waiting for it. Where it starts
// nothing (a window running as root on POSIX), it returns what the window shows instead; otherwise
// the empty text.
std::string OpenTaskScheduler();

} // namespace ui::platform
