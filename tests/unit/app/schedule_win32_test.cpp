// The scheduler commands as a recorder named schtasks.exe, put beside the test program (the
// program folder is searched first), receives them.
#include "app/daily_task.h"
#include "app/schedule.h"

#include "common/app_exe_path.h"
#include "settings/app_settings.h"
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
    }
    void TearDown() override {
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

TEST_F(SchtasksTest, CreateDailyTaskDeletesThenCreatesAtTaskTime) {
    settings_.Write("addrwatch.ini", "[General]\r\nCreateTask=0\r\nTaskTime=07:30:00\r\n");
    CreateDailyTask();
    EXPECT_EQ(Recorded(), (std::vector<std::string>{"/delete /f /tn \"Quillfen - Addrwatch\"",
                                                    CreateLine("07:30:00")}));
}

TEST_F(SchtasksTest, CreateDailyTaskDefaultsToTenOClock) {
    settings_.Write("addrwatch.ini", "[General]\r\nTaskTime=\r\n");
    CreateDailyTask();
    EXPECT_EQ(Recorded(), (std::vector<std::string>{"/delete /f /tn \"Quillfen - Addrwatch\"",
                                                    CreateLine("10:00:00")}));
}

TEST_F(SchtasksTest, ScheduleEntryCommandsForTheWindowAndTheUninstaller) {
    DeleteScheduleEntry("Addrwatch");
    CreateScheduleEntry("");
    EXPECT_EQ(Recorded(),
              (std::vector<std::string>{"/delete /f /tn \"Addrwatch\"", CreateLine("")}));
}

} // namespace
