// The daily scheduled task that starts the check run.
#pragma once

#include <optional>
#include <string>

namespace modGetExternalIP {

// The task's one name.
inline constexpr const char* TaskName = "Quillfen - Addrwatch";

// The hour and minute of a scheduler time "hh:mm" or "hh:mm:ss" (two digits each, 00-23 and
// 00-59); nothing for any other text. The one rule for every scheduler: the time goes into a
// command line or an entry file, so nothing else may pass.
struct SchedulerTime {
    int hour = 0;
    int minute = 0;
};
std::optional<SchedulerTime> ParseSchedulerTime(const std::string& startTime);

// The scheduler tool's parameter texts. The create line exists only for a time
// ParseSchedulerTime takes.
std::string DeleteTaskParameters(const std::string& taskName);
std::optional<std::string> CreateTaskParameters(const std::string& startTime,
                                                const std::string& taskName,
                                                const std::string& exePath, bool vistaOrLater);

// Deletes, then creates, the daily task for TaskTime of the settings file ("10:00:00" when empty).
void CreateDailyTask();

} // namespace modGetExternalIP
