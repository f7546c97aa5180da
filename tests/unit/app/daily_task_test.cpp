#include "app/cron_entry.h"
#include "app/daily_task.h"

#include <algorithm>
#include <gtest/gtest.h>
#include <optional>
#include <utility>

namespace {

using namespace modGetExternalIP;

TEST(DailyTask, DeleteLine) {
    EXPECT_STREQ(TaskName, "Quillfen - Addrwatch");
    EXPECT_EQ(DeleteTaskParameters(TaskName), "/delete /f /tn \"Quillfen - Addrwatch\"");
    EXPECT_EQ(DeleteTaskParameters("Addrwatch"), "/delete /f /tn \"Addrwatch\"");
}

TEST(DailyTask, CreateLines) {
    struct Case {
        const char* time;
        const char* path;
        bool vista;
        const char* expected;
    };
    const Case cases[] = {
        {"10:00:00", "C:\\Addrwatch\\addrwatch.exe", true,
         "/create /ru system /sc DAILY /st 10:00:00 /rl highest /f /tn \"Quillfen - Addrwatch\" "
         "/tr \"\\\"C:\\Addrwatch\\addrwatch.exe\\\""},
        {"10:00:00", "C:\\Addrwatch\\addrwatch.exe", false,
         "/create /ru system /sc DAILY /st 10:00:00 /tn \"Quillfen - Addrwatch\" "
         "/tr \"\\\"C:\\Addrwatch\\addrwatch.exe\\\""},
        {"07:30:00", "C:\\Program Files\\Quillfen\\addrwatch.exe", true,
         "/create /ru system /sc DAILY /st 07:30:00 /rl highest /f /tn \"Quillfen - Addrwatch\" "
         "/tr \"\\\"C:\\Program Files\\Quillfen\\addrwatch.exe\\\""},
    };
    for (const auto& c : cases) {
        const std::string line =
            CreateTaskParameters(c.time, TaskName, c.path, c.vista).value_or("");
        EXPECT_EQ(line, c.expected);
        // The action's opening quote is never closed.
        EXPECT_EQ(std::count(line.begin(), line.end(), '"'), 5) << line;
    }
}

// Before Vista the scheduler tool knows neither /rl, /f nor /delay; the action is the daily one's.
TEST(DailyTask, HourlyAndStartupLinesBeforeVista) {
    const std::string exe = "C:\\Program Files\\Addrwatch\\addrwatch.exe";
    EXPECT_EQ(CreateTaskParameters("10:00:00", TaskName, exe, false, 6),
              "/create /ru system /sc HOURLY /mo 6 /st 10:00:00 /tn \"Quillfen - Addrwatch\" "
              "/tr \"\\\"C:\\Program Files\\Addrwatch\\addrwatch.exe\\\"");
    EXPECT_EQ(CreateStartupTaskParameters(exe, false),
              "/create /ru system /sc ONSTART /tn \"Quillfen - Addrwatch (start-up)\" "
              "/tr \"\\\"C:\\Program Files\\Addrwatch\\addrwatch.exe\\\"");
    // Hours on which the two schedules would disagree never reach a line or an entry.
    for (const int hours : {5, 24, -6}) {
        EXPECT_FALSE(CreateTaskParameters("10:00:00", TaskName, exe, true, hours)) << hours;
        EXPECT_FALSE(CronEntryText("10:00:00", "/opt/a", ScheduleOptions{hours, false})) << hours;
    }
}

// One rule for every scheduler: whatever it refuses never reaches a command line or an entry.
TEST(DailyTask, SchedulerTimeRule) {
    struct Case {
        const char* time;
        std::optional<std::pair<int, int>> expected;
    };
    const Case cases[] = {
        {"10:00:00", {{10, 0}}},     {"07:30", {{7, 30}}},
        {"23:59:59", {{23, 59}}},    {"00:00", {{0, 0}}},
        {"24:00", std::nullopt},     {"07:60", std::nullopt},
        {"07:30:60", std::nullopt},  {"7:30", std::nullopt},
        {"07:30:0", std::nullopt},   {" 07:30", std::nullopt},
        {"07:30:00 ", std::nullopt}, {"10:00 /ru x /sd y", std::nullopt},
        {"07-30", std::nullopt},     {"+7:30", std::nullopt},
        {"soon", std::nullopt},      {"", std::nullopt},
    };
    for (const auto& c : cases) {
        const auto parsed = ParseSchedulerTime(c.time);
        EXPECT_EQ(parsed ? std::optional(std::pair(parsed->hour, parsed->minute)) : std::nullopt,
                  c.expected)
            << c.time;
        EXPECT_EQ(CreateTaskParameters(c.time, TaskName, "C:\\A\\addrwatch.exe", true).has_value(),
                  c.expected.has_value())
            << c.time;
    }
}

TEST(CronEntry, FileNameFromTaskName) {
    EXPECT_EQ(CronFileName("Quillfen - Addrwatch"), "quillfen-addrwatch");
    EXPECT_EQ(CronFileName("Addrwatch"), "addrwatch");
    EXPECT_EQ(CronFileName(" My.Task_2 "), "my-task-2");
}

TEST(CronEntry, Text) {
    const std::string exe = "/opt/addrwatch/addrwatch";
    struct Case {
        const char* time;
        std::string path;
        std::optional<std::string> expected;
    };
    const Case cases[] = {
        {"10:00:00", exe, "0 10 * * * root '/opt/addrwatch/addrwatch'\n"},
        {"07:30:00", exe, "30 7 * * * root '/opt/addrwatch/addrwatch'\n"},
        {"07:30", exe, "30 7 * * * root '/opt/addrwatch/addrwatch'\n"},
        {"23:59:59", exe, "59 23 * * * root '/opt/addrwatch/addrwatch'\n"},
        {"00:00", exe, "0 0 * * * root '/opt/addrwatch/addrwatch'\n"},
        // The path is one shell word whatever it holds; cron's "%" is escaped.
        {"10:00", "/opt/my apps/addrwatch", "0 10 * * * root '/opt/my apps/addrwatch'\n"},
        {"10:00", "/opt/it's/addrwatch", "0 10 * * * root '/opt/it'\\''s/addrwatch'\n"},
        {"10:00", "/opt/100%/a$b", "0 10 * * * root '/opt/100\\%/a$b'\n"},
        // Not a scheduler time (the rule itself is tested above).
        {"24:00", exe, std::nullopt},
        {"", exe, std::nullopt},
        // A path that cannot be one line of the file.
        {"10:00", "", std::nullopt},
        {"10:00", "/opt/a\nb", std::nullopt},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(CronEntryText(c.time, c.path), c.expected) << c.time << " " << c.path;
    }
}

} // namespace
