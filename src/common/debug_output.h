// The platform's debugger channel behind DPrint.
#pragma once

#include <string>
#include <string_view>

namespace platform {

// Windows: OutputDebugStringA. POSIX: syslog(LOG_DEBUG) with ident "addrwatch", and one line on
// stderr (EscapeDebugLine) when ADDRWATCH_DEBUG=1. Never fails visibly.
void WriteDebugMessage(std::string_view message);

} // namespace platform

namespace CommonModule {

// Puts one message on one line, losslessly: CR and LF become "\r" and "\n", and a backslash
// that would otherwise read as the start of such an escape (or of "\\") is doubled.
std::string EscapeDebugLine(std::string_view message);

} // namespace CommonModule
