// The daily scheduled task that starts the check run.
#pragma once

#include <string>

namespace modGetExternalIP {

// The task's one name.
inline constexpr const char* TaskName = "Quillfen - Addrwatch";

// The scheduler tool's parameter texts.
std::string DeleteTaskParameters(const std::string& taskName);
std::string CreateTaskParameters(const std::string& startTime, const std::string& taskName,
                                 const std::string& exePath, bool vistaOrLater);

// Deletes, then creates, the daily task for TaskTime of the settings file ("10:00:00" when empty).
void CreateDailyTask();

} // namespace modGetExternalIP
