// Windows argument text: the raw command line after the program's own path, lower-cased by the
// system's rules and converted to the ANSI code page.
#include "app/command_line.h"
#include "app/run_modes.h"

#include "common/win32_text.h"

#include <string>

namespace platform {

std::string LoweredArgumentText(int, char**) {
    std::wstring rest(windows_command_line::ArgumentsAfterProgram(::GetCommandLineW()));
    if (!rest.empty()) {
        ::CharLowerBuffW(rest.data(), static_cast<DWORD>(rest.size()));
    }
    return win32::WideToAnsi(rest);
}

std::string ArgumentText(int, char**) {
    return win32::WideToAnsi(windows_command_line::ArgumentsAfterProgram(::GetCommandLineW()));
}

} // namespace platform
