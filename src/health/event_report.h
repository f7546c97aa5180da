// Failures where administrators look: Windows' Application event log (source "Addrwatch", one
// Warning event), syslog at warning level on POSIX. Diagnostic messages go on as before.
#pragma once

#include <string>

namespace health {

// The event source's name, as /installer registers it.
inline constexpr const char* kEventSource = "Addrwatch";

// Writes one warning with the line. Never fails visibly.
void ReportFailureEvent(const std::string& line);

// The installer's and uninstaller's part: register the event source for the program's own file
// (Windows: EventMessageFile, TypesSupported = 7), and remove that key again, with all it
// holds. Nothing to do on POSIX. True on success; a failure is logged.
bool RegisterEventLogSource();
bool RemoveEventLogSource();

} // namespace health
