// The launcher against a recorder program: the command it forms, its log lines, and its waits.
#include "common/shell.h"

#include "common/file_checks.h"
#include "common/program_file.h"
#include "support/debug_capture.h"
#include "support/recorder.h"
#include "support/temp_folder.h"

#include <chrono>
#include <filesystem>
#include <gtest/gtest.h>
#include <thread>

namespace {

using testing_support::DebugCapture;
using testing_support::RecordedLines;

std::string Bool(bool b) {
    return b ? "True" : "False";
}

class ShellXTest : public ::testing::Test {
protected:
    std::string Recorder(const std::string& subfolder) {
        const auto folder = temp_.Path() / subfolder;
        std::filesystem::create_directories(folder);
        return testing_support::InstallRecorder(folder, "recorder");
    }
    testing_support::TempFolder temp_;
};

TEST_F(ShellXTest, MissingFileLogsOneLineAndStartsNothing) {
    const std::string missing = temp_.File("absent.exe");
    for (const std::string& given : {missing, "\"" + missing + "\""}) {
        DebugCapture capture;
        EXPECT_FALSE(CommonModule::ShellX(given, "/x", true, 0));
        EXPECT_EQ(capture.Messages(),
                  std::vector<std::string>{
                      "\tShellX:  DoesFileExist reports false, aborting.\r\n\t" + missing})
            << given;
    }
}

TEST_F(ShellXTest, FileWithBlankIsQuotedWhetherOrNotGivenInQuotes) {
    const std::string program = Recorder("with blank");
    for (const std::string& given : {program, "\"" + program + "\""}) {
        std::filesystem::remove(testing_support::RecorderLog(program));
        DebugCapture capture;
        EXPECT_TRUE(CommonModule::ShellX(given, "one two", true, 0));
        // Waited for: the program has written its line by the time ShellX returns.
        EXPECT_EQ(RecordedLines(program), std::vector<std::string>{"one two"}) << given;
        EXPECT_EQ(
            capture.Messages(),
            (std::vector<std::string>{"\tShellandWaitForTermination:  \"" + program + "\" one two",
                                      "\t\tbDisableWOW64FSRedirection=False Is64bitOS=" +
                                          Bool(CommonModule::Is64bitOS("")),
                                      "\t\tSuccess=True"}))
            << given;
    }
}

TEST_F(ShellXTest, EmptyParametersGiveTheFileAlone) {
    const std::string program = Recorder("plain");
    DebugCapture capture;
    EXPECT_TRUE(CommonModule::ShellX(program, "", true, 0));
    ASSERT_FALSE(capture.Messages().empty());
    EXPECT_EQ(capture.Messages().front(), "\tShellandWaitForTermination:  " + program);
    EXPECT_EQ(RecordedLines(program), std::vector<std::string>{""});
}

int gPumpCalls = 0;
void CountingPump() {
    ++gPumpCalls;
}

TEST_F(ShellXTest, WaitRunsTheInstalledPumpEachCycle) {
    const std::string program = Recorder("pump");
    gPumpCalls = 0;
    const auto previous = CommonModule::SetWindowEventPump(&CountingPump);
    std::string error;
    EXPECT_TRUE(CommonModule::ShellAndWaitForTermination(program, 0, error));
    CommonModule::SetWindowEventPump(previous);
    EXPECT_GE(gPumpCalls, 1);
    EXPECT_EQ(error, "");
}

TEST_F(ShellXTest, WithoutWaitReturnsAtOnceAndTheProgramStillRuns) {
    const std::string program = Recorder("nowait");
    DebugCapture capture;
    EXPECT_TRUE(CommonModule::ShellX(program, "later", false, 0));
    EXPECT_TRUE(capture.Messages().empty());
    for (int i = 0; i < 200 && RecordedLines(program).empty(); ++i) {
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
    EXPECT_EQ(RecordedLines(program), std::vector<std::string>{"later"});
}

TEST_F(ShellXTest, CommandThatCannotStartIsReportedAndFails) {
    const std::string command = temp_.File("absent.exe") + " /x";
    {
        DebugCapture capture;
        std::string error;
        EXPECT_FALSE(CommonModule::ShellAndWaitForTermination(command, 0, error));
        EXPECT_EQ(error, "File not found");
        ASSERT_EQ(capture.Messages().size(), 4u);
        EXPECT_EQ(capture.Messages()[2],
                  "\tCommonModule\\ShellAndWaitForTermination VB ERROR: 53 File not found");
        EXPECT_EQ(capture.Messages()[3], "\t\t- sShell=" + command);
    }
    // One capture at a time: a nested one would hand back a dangling listener.
    DebugCapture capture;
    CommonModule::ShellNoWait(command, 1);
    EXPECT_EQ(capture.Messages(),
              (std::vector<std::string>{"\tCommonModule\\ShellNoWait VB ERROR: 53 File not found",
                                        "\t\t- sShell=" + command}));
}

} // namespace
