// Windows debugger channel: OutputDebugStringA, the message as it is, in the ANSI code page.
#include "common/debug_output.h"

#include "common/windows_api.h"

#include <string>

namespace platform {

void WriteDebugMessage(std::string_view message) {
    const std::string text(message);
    ::OutputDebugStringA(text.c_str());
}

} // namespace platform
