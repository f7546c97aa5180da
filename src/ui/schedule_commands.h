// The daily-task commands behind the window's three schedule buttons, per platform: the
// scheduler tool on Windows, the cron entry on POSIX.
#pragma once

#include "app/daily_task.h"

#include <string>

namespace ui::platform {

// Deletes any task of the program's name, then creates it for startTime as typed, as often as
// options say, with the start-up task when they ask for it.
void CreateSchedule(const std::string& startTime,
                    const modGetExternalIP::ScheduleOptions& options = {});
void DeleteSchedule();
// Starts the system's task scheduler (or the cron folder) without waiting for it. Where it starts
// nothing (a window running as root on POSIX), it returns what the window shows instead; otherwise
// the empty text.
std::string OpenTaskScheduler();

} // namespace ui::platform
