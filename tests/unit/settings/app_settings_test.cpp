// The settings file beside the program, the start banner and the version text.
#include "common/program_file.h"
#include "settings/app_settings.h"
#include "support/debug_capture.h"

#include <gtest/gtest.h>

using namespace CommonModule;

TEST(AppPath, EndsInExactlyOneSeparator) {
    const std::string path = AppPath();
    ASSERT_GE(path.size(), 2u);
    EXPECT_EQ(path.back(), platform::PathSeparator());
    EXPECT_NE(path[path.size() - 2], platform::PathSeparator());
    EXPECT_EQ(platform::ProgramFilePath().rfind(path, 0), 0u);
}

TEST(InitAppSettings, SettingsFileIsNamedAfterTheProgramAndTheBannerHasThreeMessages) {
    bool set = true;
    bool inAppPath = true;
    testing_support::DebugCapture capture;
    InitAppSettings(set, inAppPath);
    EXPECT_EQ(sAppINI, AppPath() + "addrwatch_tests.ini");
    ASSERT_EQ(capture.Messages().size(), 3u);
    EXPECT_EQ(capture.Messages()[0], "\t");
    const std::string& second = capture.Messages()[1];
    const std::string tail = " - Starting Addrwatch   v1.0.1 ";
    ASSERT_GT(second.size(), tail.size() + 1);
    EXPECT_EQ(second.substr(second.size() - tail.size()), tail);
    EXPECT_EQ(capture.Messages()[2], "\t" + std::string(40, '-'));

    sAppINI = "unchanged";
    set = false;
    InitAppSettings(set, inAppPath);
    EXPECT_EQ(sAppINI, "unchanged");
}

TEST(AppVersionText, StagesSuffixesAndRevisionZero) {
    EXPECT_EQ(AppVersionText("", ""), "Addrwatch   v1.0.1 ");
    struct Case {
        int revision;
        const char *stage, *suffix, *text;
    } cases[] = {
        {1, "", "", "T   v1.0.1 "},      {1, "A", "", "T   v1.0.1 ALPHA"},
        {1, "B", "", "T   v1.0.1 BETA"}, {1, "RC", "build 7", "T   v1.0.1 RC  - build 7"},
        {1, "a", "", "T   v1.0.1 a"},    {0, "", "", "T   v1.0 "},
        {0, "", "x", "T   v1.0   - x"},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(FormatVersionText("T", 1, 0, c.revision, c.stage, c.suffix), c.text);
    }
}
