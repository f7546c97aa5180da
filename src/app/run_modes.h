// Program entry and the selection of one run mode from the command-line switch.
#pragma once

#include <string>
#include <string_view>

namespace modGetExternalIP {

enum class RunMode {
    CheckRun,
    Config,
    Installer,
    Uninstaller,
    InstallerUnattended,
    UninstallerPurge,
    SignIn,
};

// The mode for the lower-cased argument text: exact comparison, nothing trimmed or split, so
// anything but the switches is the check run.
//
// The package hooks: "/uninstaller-purge" exactly, and "/installer-unattended" alone or followed
// by a blank and the settings file to install (SettingsFileArgument).
RunMode SelectMode(std::string_view loweredArguments);

// The file of "/installer-unattended FILE", from the argument text as given: a path keeps its
// case (the file may lie on a share that tells cases apart, and on POSIX every path does). What
// follows the switch and its blanks, trailing blanks and one pair of enclosing double quotes
// dropped; empty when nothing follows.
std::string SettingsFileArgument(std::string_view arguments);

// The entry routine: InitAppSettings, then the chosen mode. loweredArguments is the argument text
// after the program's path, lower-cased (platform::LoweredArgumentText); arguments is the same
// text as given (platform::ArgumentText). Returns when the mode, and any window it opened, is
// done: the process's exit code, 0 but for /signin and a package hook that failed.
int Main(std::string_view loweredArguments, std::string_view arguments);

} // namespace modGetExternalIP

namespace platform {
// The raw argument text of this process, lower-cased: everything after the program's own path.
// Windows: from GetCommandLineW; POSIX: argv[1..] joined with single blanks.
std::string LoweredArgumentText(int argc, char** argv);
// The same text with its case as given.
std::string ArgumentText(int argc, char** argv);
} // namespace platform
