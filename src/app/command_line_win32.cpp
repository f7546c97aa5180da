// Windows argument text: the raw command line after the program's own path, lower-cased by the
// system's rules and converted to the ANSI code page.
#include "app/command_line.h"
#include "app/run_modes.h"

#include "common/windows_api.h"

#include <string>

namespace platform {

std::string LoweredArgumentText(int, char**) {
    std::wstring rest(windows_command_line::ArgumentsAfterProgram(::GetCommandLineW()));
    if (!rest.empty()) {
        ::CharLowerBuffW(rest.data(), static_cast<DWORD>(rest.size()));
    }
    const int n = ::WideCharToMultiByte(CP_ACP, 0, rest.data(), static_cast<int>(rest.size()),
                                        nullptr, 0, nullptr, nullptr);
    std::string text(static_cast<std::size_t>(n), '\0');
    ::WideCharToMultiByte(CP_ACP, 0, rest.data(), static_cast<int>(rest.size()), text.data(), n,
                          nullptr, nullptr);
    return text;
}

} // namespace platform
