// Program entry and the selection of one run mode from the command-line switch.
#pragma once

#include <string>
#include <string_view>

namespace modGetExternalIP {

enum class RunMode { CheckRun, Config, Installer, Uninstaller, SignIn };

// The mode for the lower-cased argument text: exact comparison, nothing trimmed or split, so
// anything but the switches is the check run.
RunMode SelectMode(std::string_view loweredArguments);

// The entry routine: InitAppSettings, then the chosen mode. loweredArguments is the argument text
// after the program's path, lower-cased (platform::LoweredArgumentText). Returns when the mode,
// and any window it opened, is done, with the process's exit status (0 but for /signin).
int Main(std::string_view loweredArguments);

} // namespace modGetExternalIP

namespace platform {
// The raw argument text of this process, lower-cased: everything after the program's own path.
// Windows: from GetCommandLineW; POSIX: argv[1..] joined with single blanks.
std::string LoweredArgumentText(int argc, char** argv);
} // namespace platform
