// The scheduler commands as a recorder named schtasks.exe, put beside the test program (the
// program folder is searched first), receives them.
#include "app/daily_task.h"
#include "app/schedule.h"

#include "app/schedule_cases.h"
#include "common/app_exe_path.h"
#include "settings/app_settings.h"
#include "support/debug_capture.h"
#include "support/recorder.h"
#include "support/temp_folder.h"

#include <filesystem>
#include <gtest/gtest.h>

namespace {

namespace fs = std::filesystem;
using namespace modGetExternalIP;

class SchtasksTest : public ::testing::Test {
protected:
    void SetUp() override {
        savedIni_ = CommonModule::sAppINI;
        CommonModule::sAppINI = settings_.File("addrwatch.ini");
        schtasks_ = testing_support::InstallRecorder(CommonModule::AppPath(), "schtasks");
        fs::remove(testing_support::RecorderLog(schtasks_));
        schedule_cases::ForgetStartupRecord();
    }
    void TearDown() override {
        schedule_cases::ForgetStartupRecord();
        CommonModule::sAppINI = savedIni_;
        fs::remove(testing_support::RecorderLog(schtasks_));
        fs::remove(schtasks_);
    }
    std::vector<std::string> Recorded() const { return testing_support::RecordedLines(schtasks_); }
    static std::string CreateLine(const std::string& time) {
        return "/create /ru system /sc DAILY /st " + time +
               " /rl highest /f /tn \"Quillfen - Addrwatch\" /tr \"\\\"" +
               CommonModule::AppExePath() + "\\\"";
    }

    testing_support::TempFolder settings_;
    std::string savedIni_;
    std::string schtasks_;
};

// A TaskTime the scheduler rule refuses still deletes the old task, creates none and says so
// once; a valid one gives the command lines as they always were.
TEST_F(SchtasksTest, CreateDailyTaskFollowsTaskTime) {
    const std::string deleteLine = "/delete /f /tn \"Quillfen - Addrwatch\"";
    const std::string refused = "\tTaskTime is not a time of day (hh:mm:ss): ";
    struct Case {
        const char* taskTime;
        std::vector<std::string> commands;
        std::vector<std::string> messages;
    };
    const Case cases[] = {
        {"07:30:00", {deleteLine, CreateLine("07:30:00")}, {}},
        {"07:30", {deleteLine, CreateLine("07:30")}, {}},
        {"", {deleteLine, CreateLine("10:00:00")}, {}},
        {"10:00 /ru x /sd y", {deleteLine}, {refused + "10:00 /ru x /sd y"}},
        {"24:00", {deleteLine}, {refused + "24:00"}},
        {"9:00", {deleteLine}, {refused + "9:00"}},
    };
    for (const auto& c : cases) {
        settings_.Write("addrwatch.ini", std::string("[General]\r\nCreateTask=0\r\nTaskTime=") +
                                             c.taskTime + "\r\n");
        fs::remove(testing_support::RecorderLog(schtasks_));
        testing_support::DebugCapture capture;
        CreateDailyTask();
        EXPECT_EQ(Recorded(), c.commands) << c.taskTime;
        std::vector<std::string> timeMessages;
        for (const std::string& m : capture.Messages()) {
            if (m.find("TaskTime") != std::string::npos) {
                timeMessages.push_back(m);
            }
        }
        EXPECT_EQ(timeMessages, c.messages) << c.taskTime;
    }
}

// The window hands its box's text on as typed: an empty box is no time, not the default.
TEST_F(SchtasksTest, ScheduleEntryCommandsForTheWindowAndTheUninstaller) {
    DeleteScheduleEntry("Addrwatch");
    CreateScheduleEntry("");
    CreateScheduleEntry("06:15:00");
    EXPECT_EQ(Recorded(),
              (std::vector<std::string>{"/delete /f /tn \"Addrwatch\"", CreateLine("06:15:00")}));
}

// CheckEvery and CheckAtStartup, through the scheduler tool.
TEST_F(SchtasksTest, ScheduleUnderCheckEveryAndCheckAtStartup) {
    for (const schedule_cases::Case& c : schedule_cases::Cases()) {
        SCOPED_TRACE(c.name);
        schedule_cases::ForgetStartupRecord();
        if (c.startupBefore) {
            CreateScheduleEntry("10:00:00", TaskName, ScheduleOptions{0, true});
            ASSERT_TRUE(schedule_cases::StartupRecorded());
        }
        std::string general = c.general;
        for (std::size_t at = 0; (at = general.find('\n', at)) != std::string::npos; at += 2) {
            general.insert(at, "\r");
        }
        settings_.Write("addrwatch.ini", "[General]\r\n" + general);
        fs::remove(testing_support::RecorderLog(schtasks_));
        testing_support::DebugCapture capture;
        CreateDailyTask();
        std::vector<std::string> expected;
        for (const std::string& line : c.commands) {
            expected.push_back(schedule_cases::WithExe(line, CommonModule::AppExePath()));
        }
        EXPECT_EQ(Recorded(), expected);
        EXPECT_EQ(schedule_cases::StartupRecorded(), c.recordedAfter);
        std::vector<std::string> messages;
        for (const std::string& m : capture.Messages()) {
            if (m.find("CheckEvery") != std::string::npos) {
                messages.push_back(m);
            }
        }
        EXPECT_EQ(messages, c.message.empty() ? std::vector<std::string>{}
                                              : std::vector<std::string>{c.message});
    }
}

// Every deletion of the task takes the recorded start-up task with it, once; other names never.
TEST_F(SchtasksTest, DeletionRemovesTheRecordedStartupTaskOnce) {
    CreateScheduleEntry("10:00:00", TaskName, ScheduleOptions{6, true});
    fs::remove(testing_support::RecorderLog(schtasks_));
    DeleteScheduleEntry("Addrwatch");
    EXPECT_TRUE(schedule_cases::StartupRecorded());
    DeleteScheduleEntry();
    EXPECT_FALSE(schedule_cases::StartupRecorded());
    DeleteScheduleEntry();
    EXPECT_EQ(Recorded(),
              (std::vector<std::string>{"/delete /f /tn \"Addrwatch\"", schedule_cases::kDelete,
                                        schedule_cases::kDeleteStartup, schedule_cases::kDelete}));
}

} // namespace
