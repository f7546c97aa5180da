#include "app/daily_task.h"

#include "app/schedule.h"
#include "settings/app_settings.h"
#include "settings/ini_file.h"

namespace modGetExternalIP {

std::string DeleteTaskParameters(const std::string& taskName) {
    return "/delete /f /tn \"" + taskName + "\"";
}

// The action's opening quote stays open: the scheduler takes the end of the line as its end, and
// its \" pairs store the path in quotes.
std::string CreateTaskParameters(const std::string& startTime, const std::string& taskName,
                                 const std::string& exePath, bool vistaOrLater) {
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
