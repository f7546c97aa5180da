#include "app/daily_task.h"

#include "app/schedule.h"
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

// The action's opening quote stays open: the scheduler takes the end of the line as its end, and
// its \" pairs store the path in quotes.
std::optional<std::string> CreateTaskParameters(const std::string& startTime,
                                                const std::string& taskName,
                                                const std::string& exePath, bool vistaOrLater) {
    if (!ParseSchedulerTime(startTime)) {
        return std::nullopt;
    }
    return "/create /ru system /sc DAILY /st " + startTime +
           (vistaOrLater ? " /rl highest /f /tn " : " /tn ") + "\"" + taskName + "\"" + " /tr " +
           "\"\\\"" + exePath + "\\\"";
}

void CreateDailyTask() {
    const std::string name = TaskName;
    std::string time = CommonModule::ReadINI(CommonModule::sAppINI, "General", "TaskTime");
    if (time.empty()) {
        time = "10:00:00";
    }
    DeleteScheduleEntry(name);
    CreateScheduleEntry(time, name);
}

} // namespace modGetExternalIP
