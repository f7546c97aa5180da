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
        {"/installer-unattended", RunMode::InstallerUnattended},
        {"/installer-unattended c:\\deploy\\addrwatch.ini", RunMode::InstallerUnattended},
        {"/installer-unattended\t\"x.ini\"", RunMode::InstallerUnattended},
        {"/installer-unattended ", RunMode::InstallerUnattended},
        {"/installer-unattendedx.ini", RunMode::CheckRun},
        {" /installer-unattended", RunMode::CheckRun},
        {"/installer x.ini", RunMode::CheckRun},
        {"/uninstaller-purge", RunMode::UninstallerPurge},
        {"/uninstaller-purge ", RunMode::CheckRun},
        {"/uninstaller /purge", RunMode::CheckRun},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(SelectMode(c.lowered), c.mode) << "'" << c.lowered << "'";
    }
}

TEST(SettingsFileArgument, TheRestAfterTheSwitchWithItsCase) {
    struct Case {
        const char* arguments;
        const char* file;
    } cases[] = {
        {"/installer-unattended", ""},
        {"/installer-unattended  \t ", ""},
        {"/INSTALLER-UNATTENDED C:\\Deploy\\Site A.ini", "C:\\Deploy\\Site A.ini"},
        {"/installer-unattended \"\\\\Server\\Share\\AddrWatch.INI\" ",
         "\\\\Server\\Share\\AddrWatch.INI"},
        {"/installer-unattended\t/srv/Prepared.ini", "/srv/Prepared.ini"},
        {"/installer-unattended \"\"", ""},
        {"/installer-unattended \"half", "\"half"},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(modGetExternalIP::SettingsFileArgument(c.arguments), c.file) << c.arguments;
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
