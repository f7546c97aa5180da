// The switch selects the mode only when the whole lower-cased text equals it.
#include "app/command_line.h"
#include "app/run_modes.h"

#include <gtest/gtest.h>

using modGetExternalIP::RunMode;
using modGetExternalIP::SelectMode;

TEST(SelectMode, ExactLowerCasedSwitchesOnly) {
    struct Case {
        const char* lowered;
        RunMode mode;
    } cases[] = {
        {"", RunMode::CheckRun},
        {"/config", RunMode::Config},
        {"/installer", RunMode::Installer},
        {"/uninstaller", RunMode::Uninstaller},
        {"/config ", RunMode::CheckRun},
        {" /config", RunMode::CheckRun},
        {"/config x", RunMode::CheckRun},
        {"-config", RunMode::CheckRun},
        {"config", RunMode::CheckRun},
        {"\"/config\"", RunMode::CheckRun},
        {"/config /installer", RunMode::CheckRun},
        {"/CONFIG", RunMode::CheckRun}, // lower-casing is the caller's step
    };
    for (const auto& c : cases) {
        EXPECT_EQ(SelectMode(c.lowered), c.mode) << "'" << c.lowered << "'";
    }
}

TEST(ArgumentsAfterProgram, SkipsThePathAsTheRuntimeSplitsIt) {
    struct Case {
        const wchar_t* commandLine;
        const wchar_t* arguments;
    } cases[] = {
        {L"addrwatch.exe", L""},
        {L"addrwatch.exe /config", L"/config"},
        {L"C:\\x\\addrwatch.exe   /Config ", L"/Config "},
        {L"\"C:\\Program Files\\Q\\addrwatch.exe\" /installer", L"/installer"},
        {L"\"C:\\Program Files\\Q\\addrwatch.exe\"/installer", L"/installer"},
        {L"\"unterminated path", L""},
        {L"a.exe \"/config\"", L"\"/config\""},
        {L"a.exe\t/config x", L"/config x"},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(windows_command_line::ArgumentsAfterProgram(std::wstring_view(c.commandLine)),
                  std::wstring_view(c.arguments));
    }
}
