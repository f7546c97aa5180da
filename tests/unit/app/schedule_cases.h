// One table for the schedule CreateDailyTask makes under CheckEvery and CheckAtStartup: the
// scheduler tool's command lines (checked under Wine through a recorder) and the cron entry
// (checked natively in the cron folder), side by side. "<exe>" stands for the program's path.
#pragma once

#include "registry/registry.h"

#include <string>
#include <vector>

namespace schedule_cases {

struct Case {
    const char* name;
    const char* general; // lines of section "General" (TaskTime among them where it matters)
    bool startupBefore;  // a start-up task was made, and recorded, before this creation
    std::vector<std::string> commands;
    std::string cron;
    bool recordedAfter;  // StartupTask in the store afterwards
    std::string message; // the diagnostic line about CheckEvery; empty when none
};

inline const std::string kDelete = "/delete /f /tn \"Quillfen - Addrwatch\"";
inline const std::string kDeleteStartup = "/delete /f /tn \"Quillfen - Addrwatch (start-up)\"";
inline const std::string kAction = " /tr \"\\\"<exe>\\\"";

inline std::string Hourly(const std::string& hours, const std::string& time) {
    return "/create /ru system /sc HOURLY /mo " + hours + " /st " + time +
           " /rl highest /f /tn \"Quillfen - Addrwatch\"" + kAction;
}
inline std::string Daily(const std::string& time) {
    return "/create /ru system /sc DAILY /st " + time +
           " /rl highest /f /tn \"Quillfen - Addrwatch\"" + kAction;
}
inline const std::string kStartup = "/create /ru system /sc ONSTART /delay 0002:00 /rl highest /f "
                                    "/tn \"Quillfen - Addrwatch (start-up)\"" +
                                    kAction;
inline const std::string kReboot = "@reboot root sleep 120 && '<exe>'\n";
inline std::string Cron(const std::string& minuteHours) {
    return minuteHours + " * * * root '<exe>'\n";
}
inline std::string Refused(const std::string& value) {
    return "\tCheckEvery is not 1, 2, 3, 4, 6, 8 or 12 (hours), so the task runs daily: " + value;
}

inline std::vector<Case> Cases() {
    return {
        // Without the new keys: exactly the lines and the entry of the daily task alone.
        {"no new keys",
         "",
         false,
         {"/delete /f /tn \"Quillfen - Addrwatch\"",
          "/create /ru system /sc DAILY /st 10:00:00 /rl highest /f /tn \"Quillfen - Addrwatch\" "
          "/tr \"\\\"<exe>\\\""},
         "0 10 * * * root '<exe>'\n",
         false,
         ""},
        {"daily spelled out",
         "CheckEvery=0\nCheckAtStartup=0\n",
         false,
         {kDelete, Daily("10:00:00")},
         Cron("0 10"),
         false,
         ""},
        {"every 6 hours from 10:00",
         "TaskTime=10:00:00\nCheckEvery=6\n",
         false,
         {kDelete, Hourly("6", "10:00:00")},
         Cron("0 4,10,16,22"),
         false,
         ""},
        {"every hour",
         "TaskTime=00:30\nCheckEvery=1\n",
         false,
         {kDelete, Hourly("1", "00:30")},
         Cron("30 0,1,2,3,4,5,6,7,8,9,10,11,12,13,14,15,16,17,18,19,20,21,22,23"),
         false,
         ""},
        {"every 12 hours from late evening",
         "TaskTime=23:15:00\nCheckEvery=12\n",
         false,
         {kDelete, Hourly("12", "23:15:00")},
         Cron("15 11,23"),
         false,
         ""},
        // Not a divisor of 24 below it, or not its plain spelling: daily, and said so.
        {"5 hours",
         "CheckEvery=5\n",
         false,
         {kDelete, Daily("10:00:00")},
         Cron("0 10"),
         false,
         Refused("5")},
        {"24 hours",
         "CheckEvery=24\n",
         false,
         {kDelete, Daily("10:00:00")},
         Cron("0 10"),
         false,
         Refused("24")},
        {"leading zero",
         "CheckEvery=06\n",
         false,
         {kDelete, Daily("10:00:00")},
         Cron("0 10"),
         false,
         Refused("06")},
        {"a word",
         "CheckEvery=hourly\n",
         false,
         {kDelete, Daily("10:00:00")},
         Cron("0 10"),
         false,
         Refused("hourly")},
        // The start-up task comes after the first, and is recorded.
        {"start-up check",
         "CheckAtStartup=1\n",
         false,
         {kDelete, Daily("10:00:00"), kStartup},
         Cron("0 10") + kReboot,
         true,
         ""},
        {"start-up check every 8 hours",
         "TaskTime=07:30\nCheckEvery=8\nCheckAtStartup=1\n",
         false,
         {kDelete, Hourly("8", "07:30"), kStartup},
         Cron("30 7,15,23") + kReboot,
         true,
         ""},
        {"only exactly 1 asks for it",
         "CheckAtStartup=true\n",
         false,
         {kDelete, Daily("10:00:00")},
         Cron("0 10"),
         false,
         ""},
        // A recorded start-up task goes with the delete before the creation.
        {"start-up task recorded, now off",
         "",
         true,
         {kDelete, kDeleteStartup, Daily("10:00:00")},
         Cron("0 10"),
         false,
         ""},
        {"start-up task recorded, still on",
         "CheckAtStartup=1\n",
         true,
         {kDelete, kDeleteStartup, Daily("10:00:00"), kStartup},
         Cron("0 10") + kReboot,
         true,
         ""},
        // A time that is no time makes neither task, and the old record is gone with the old one.
        {"no time",
         "TaskTime=soon\nCheckAtStartup=1\n",
         true,
         {kDelete, kDeleteStartup},
         "",
         false,
         ""},
    };
}

inline std::string WithExe(std::string text, const std::string& exe) {
    for (std::size_t at; (at = text.find("<exe>")) != std::string::npos;) {
        text.replace(at, 5, exe);
    }
    return text;
}

inline bool StartupRecorded() {
    modRegistry::RegValue value = std::string();
    return modRegistry::fReadValue("HKLM", "Software\\Quillfen\\Addrwatch", "StartupTask", "S",
                                   std::string(), value) == 0;
}

inline void ForgetStartupRecord() {
    modRegistry::fDeleteValue("HKLM", "Software\\Quillfen\\Addrwatch", "StartupTask");
}

} // namespace schedule_cases
