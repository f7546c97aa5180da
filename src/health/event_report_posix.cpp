// POSIX: the warning goes to syslog under the program's ident, beside its debug messages. There
// is no event source to register.
#include "health/event_report.h"

#include <syslog.h>

namespace health {

void ReportFailureEvent(const std::string& line) {
    // The ident the debug channel opened with; opening again names it for a first message too.
    openlog("addrwatch", LOG_PID, LOG_USER);
    syslog(LOG_WARNING, "%s", line.c_str());
}

bool RegisterEventLogSource() {
    return true;
}

bool RemoveEventLogSource() {
    return true;
}

} // namespace health
