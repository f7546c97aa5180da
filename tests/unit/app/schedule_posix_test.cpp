// The cron entry on disk: what CreateDailyTask and the schedule functions leave in the folder.
#include "app/daily_task.h"
#include "app/schedule.h"

#include "app/schedule_cases.h"
#include "common/app_exe_path.h"
#include "settings/app_settings.h"
#include "support/debug_capture.h"
#include "support/environment.h"
#include "support/temp_folder.h"

#include <cstdlib>
#include <filesystem>
#include <gtest/gtest.h>
#include <sys/stat.h>

namespace {

namespace fs = std::filesystem;
using namespace modGetExternalIP;

class CronScheduleTest : public ::testing::Test {
protected:
    void SetUp() override {
        savedIni_ = CommonModule::sAppINI;
        CommonModule::sAppINI = settings_.File("addrwatch.ini");
        UseCronFolder(cron_.Path().string());
    }
    void TearDown() override {
        CommonModule::sAppINI = savedIni_;
        ::unsetenv("ADDRWATCH_CRON_DIR");
    }
    static void UseCronFolder(const std::string& folder) {
        ::setenv("ADDRWATCH_CRON_DIR", folder.c_str(), 1);
    }
    void SetTaskTime(const std::string& time) {
        settings_.Write("addrwatch.ini", "[General]\nTaskTime=" + time + "\n");
    }
    std::vector<std::string> Files() const {
        std::vector<std::string> names;
        for (const auto& e : fs::directory_iterator(cron_.Path())) {
            names.push_back(e.path().filename().string());
        }
        return names;
    }
    std::string Entry() const { return cron_.Read("quillfen-addrwatch"); }
    static std::string Line(const std::string& minuteHour) {
        return minuteHour + " * * * root '" + CommonModule::AppExePath() + "'\n";
    }

    testing_support::TempFolder settings_;
    testing_support::TempFolder cron_;
    testing_support::TempFolder state_;
    testing_support::ScopedEnvironment stateDir_{"ADDRWATCH_STATE_DIR", state_.Path().string()};
    std::string savedIni_;
};

TEST_F(CronScheduleTest, DefaultTimeWhenTaskTimeIsMissing) {
    CreateDailyTask();
    EXPECT_EQ(Files(), std::vector<std::string>{"quillfen-addrwatch"});
    EXPECT_EQ(Entry(), Line("0 10"));
    struct stat st {};
    ASSERT_EQ(::stat(cron_.File("quillfen-addrwatch").c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 07777, 0644u);
}

TEST_F(CronScheduleTest, SecondCreationReplacesTheFirst) {
    SetTaskTime("07:30:00");
    CreateDailyTask();
    EXPECT_EQ(Entry(), Line("30 7"));
    SetTaskTime("21:05");
    CreateDailyTask();
    EXPECT_EQ(Files(), std::vector<std::string>{"quillfen-addrwatch"});
    EXPECT_EQ(Entry(), Line("5 21"));
}

TEST_F(CronScheduleTest, BadTimeLeavesNoEntry) {
    CreateDailyTask();
    SetTaskTime("half past ten");
    testing_support::DebugCapture capture;
    CreateDailyTask();
    EXPECT_TRUE(Files().empty());
    EXPECT_EQ(capture.Messages(),
              (std::vector<std::string>{
                  "\tmodGetExternalIP\\CreateScheduleEntry VB ERROR: 5 Invalid procedure call or "
                  "argument",
                  "\t\t- sTime=half past ten"}));
}

TEST_F(CronScheduleTest, UnwritableFolderIsLoggedAndLeavesNothing) {
    cron_.Write("not-a-folder", "x");
    for (const std::string& folder : {cron_.File("missing"), cron_.File("not-a-folder")}) {
        UseCronFolder(folder);
        testing_support::DebugCapture capture;
        CreateDailyTask();
        EXPECT_EQ(capture.Messages(),
                  (std::vector<std::string>{
                      "\tmodGetExternalIP\\CreateScheduleEntry VB ERROR: 76 Path not found",
                      "\t\t- sFile=" + folder + "/quillfen-addrwatch"}));
    }
    EXPECT_FALSE(fs::exists(cron_.File("missing")));
    EXPECT_EQ(Files(), std::vector<std::string>{"not-a-folder"});
}

TEST_F(CronScheduleTest, DeleteRemovesOnlyThatTasksEntry) {
    CreateScheduleEntry("08:00", "Addrwatch");
    CreateScheduleEntry("09:00");
    EXPECT_EQ(cron_.Read("addrwatch"), Line("0 8"));
    DeleteScheduleEntry("Addrwatch");
    EXPECT_EQ(Files(), std::vector<std::string>{"quillfen-addrwatch"});
    DeleteScheduleEntry();
    DeleteScheduleEntry(); // nothing left: not an error
    EXPECT_TRUE(Files().empty());
}

// CheckEvery and CheckAtStartup, in the cron folder.
TEST_F(CronScheduleTest, ScheduleUnderCheckEveryAndCheckAtStartup) {
    for (const schedule_cases::Case& c : schedule_cases::Cases()) {
        SCOPED_TRACE(c.name);
        schedule_cases::ForgetStartupRecord();
        if (c.startupBefore) {
            CreateScheduleEntry("10:00:00", TaskName, ScheduleOptions{0, true});
            ASSERT_TRUE(schedule_cases::StartupRecorded());
        }
        settings_.Write("addrwatch.ini", std::string("[General]\n") + c.general);
        testing_support::DebugCapture capture;
        CreateDailyTask();
        if (c.cron.empty()) {
            EXPECT_TRUE(Files().empty());
        } else {
            EXPECT_EQ(Files(), std::vector<std::string>{"quillfen-addrwatch"});
            EXPECT_EQ(Entry(), schedule_cases::WithExe(c.cron, CommonModule::AppExePath()));
        }
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

// The start-up line goes with the entry file; the record goes with it.
TEST_F(CronScheduleTest, DeletionRemovesTheStartupLineAndTheRecord) {
    CreateScheduleEntry("10:00:00", TaskName, ScheduleOptions{6, true});
    EXPECT_EQ(Entry(), schedule_cases::WithExe(schedule_cases::Cron("0 4,10,16,22") +
                                                   schedule_cases::kReboot,
                                               CommonModule::AppExePath()));
    DeleteScheduleEntry();
    EXPECT_TRUE(Files().empty());
    EXPECT_FALSE(schedule_cases::StartupRecorded());
}

} // namespace
