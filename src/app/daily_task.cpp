#include "app/daily_task.h"

#include "app/schedule.h"
#include "common/dprint.h"
#include "settings/app_settings.h"
#include "settings/ini_file.h"

namespace modGetExternalIP {

namespace {

// Two digits at pos, at most max.
std::optional<int> TwoDigits(const std::string& s, std::size_t pos, int max) {
    const auto digit = [](char c) { return c >= '0' && c <= '9'; };
    if (pos + 2 > s.size() || !digit(s[pos]) || !digit(s[pos + 1])) {
        return std::nullopt;
    }
    const int v = (s[pos] - '0') * 10 + (s[pos + 1] - '0');
    return v <= max ? std::optional<int>(v) : std::nullopt;
}

std::string GeneralSetting(const char* key) {
    return CommonModule::ReadINI(CommonModule::sAppINI, "General", key);
}

// The action's opening quote stays open: the scheduler takes the end of the line as its end, and
// its \" pairs store the path in quotes.
std::string TaskAction(const std::string& exePath) {
    return " /tr \"\\\"" + exePath + "\\\"";
}

} // namespace

std::optional<SchedulerTime> ParseSchedulerTime(const std::string& t) {
    if (t.size() != 5 && t.size() != 8) {
        return std::nullopt;
    }
    const auto hour = TwoDigits(t, 0, 23);
    const auto minute = TwoDigits(t, 3, 59);
    if (!hour || !minute || t[2] != ':') {
        return std::nullopt;
    }
    if (t.size() == 8 && (t[5] != ':' || !TwoDigits(t, 6, 59))) {
        return std::nullopt;
    }
    return SchedulerTime{*hour, *minute};
}

std::string DeleteTaskParameters(const std::string& taskName) {
    return "/delete /f /tn \"" + taskName + "\"";
}

bool IsCheckEveryHours(int hours) {
    return hours > 0 && hours < 24 && 24 % hours == 0;
}

std::optional<int> ParseCheckEvery(const std::string& text) {
    if (text.empty() || text == "0") {
        return 0;
    }
    // The plain spelling only: the number goes into a command line.
    for (int hours = 1; hours < 24; ++hours) {
        if (IsCheckEveryHours(hours) && text == std::to_string(hours)) {
            return hours;
        }
    }
    return std::nullopt;
}

ScheduleOptions ScheduleOptionsFromSettings() {
    ScheduleOptions options;
    const std::string every = GeneralSetting("CheckEvery");
    if (const auto hours = ParseCheckEvery(every)) {
        options.everyHours = *hours;
    } else {
        CommonModule::DPrint("CheckEvery is not 1, 2, 3, 4, 6, 8 or 12 (hours), so the task runs "
                             "daily: " +
                             every);
    }
    options.atStartup = GeneralSetting("CheckAtStartup") == "1";
    return options;
}

std::optional<std::string> CreateTaskParameters(const std::string& startTime,
                                                const std::string& taskName,
                                                const std::string& exePath, bool vistaOrLater,
                                                int everyHours) {
    if (!ParseSchedulerTime(startTime) || (everyHours != 0 && !IsCheckEveryHours(everyHours))) {
        return std::nullopt;
    }
    const std::string schedule =
        everyHours == 0 ? "/sc DAILY" : "/sc HOURLY /mo " + std::to_string(everyHours);
    return "/create /ru system " + schedule + " /st " + startTime +
           (vistaOrLater ? " /rl highest /f /tn " : " /tn ") + "\"" + taskName + "\"" +
           TaskAction(exePath);
}

std::string CreateStartupTaskParameters(const std::string& exePath, bool vistaOrLater) {
    return std::string("/create /ru system /sc ONSTART") +
           (vistaOrLater ? " /delay 0002:00 /rl highest /f /tn " : " /tn ") + "\"" +
           StartupTaskName + "\"" + TaskAction(exePath);
}

void CreateDailyTask() {
    const std::string name = TaskName;
    std::string time = GeneralSetting("TaskTime");
    if (time.empty()) {
        time = "10:00:00";
    }
    DeleteScheduleEntry(name);
    CreateScheduleEntry(time, name, ScheduleOptionsFromSettings());
}

} // namespace modGetExternalIP
