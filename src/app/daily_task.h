// The daily scheduled task that starts the check run.
#pragma once

#include <optional>
#include <string>

namespace modGetExternalIP {

// The task's one name.
inline constexpr const char* TaskName = "Quillfen - Addrwatch";
// The second task, made only when asked for, that checks once after the machine starts.
inline constexpr const char* StartupTaskName = "Quillfen - Addrwatch (start-up)";

// The hour and minute of a scheduler time "hh:mm" or "hh:mm:ss" (two digits each, 00-23 and
// 00-59); nothing for any other text. The one rule for every scheduler: the time goes into a
// command line or an entry file, so nothing else may pass.
struct SchedulerTime {
    int hour = 0;
    int minute = 0;
};
std::optional<SchedulerTime> ParseSchedulerTime(const std::string& startTime);

// How often the task runs and whether a start-up check comes with it. The defaults are the
// daily task alone, exactly as it has always been made.
struct ScheduleOptions {
    int everyHours = 0; // 0: daily; otherwise a divisor of 24 below it
    bool atStartup = false;
};

// CheckEvery as written: "", "0" give 0 (daily); "1", "2", "3", "4", "6", "8", "12" those hours;
// nothing for any other text. Only divisors of 24, so that the Windows and cron schedules hit
// the same hours every day.
std::optional<int> ParseCheckEvery(const std::string& text);
bool IsCheckEveryHours(int hours);

// The options from section "General": CheckEvery (anything ParseCheckEvery refuses counts as
// daily, logged "CheckEvery is not 1, 2, 3, 4, 6, 8 or 12 (hours), so the task runs daily: " and
// the value) and CheckAtStartup (exactly "1").
ScheduleOptions ScheduleOptionsFromSettings();

// The scheduler tool's parameter texts. The create line exists only for a time
// ParseSchedulerTime takes and for everyHours 0 or one IsCheckEveryHours takes.
std::string DeleteTaskParameters(const std::string& taskName);
std::optional<std::string> CreateTaskParameters(const std::string& startTime,
                                                const std::string& taskName,
                                                const std::string& exePath, bool vistaOrLater,
                                                int everyHours = 0);
// The start-up task StartupTaskName: at system start, 2 minutes late so the network is up.
// Systems before Vista know neither the delay nor the run level (nor /f, as for the daily task).
std::string CreateStartupTaskParameters(const std::string& exePath, bool vistaOrLater);

// Deletes, then creates, the daily task for TaskTime of the settings file ("10:00:00" when
// empty), with the options of ScheduleOptionsFromSettings.
void CreateDailyTask();

} // namespace modGetExternalIP
