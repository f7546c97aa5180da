// POSIX debugger channel: syslog at debug level, plus stderr when ADDRWATCH_DEBUG=1.
// Only POSIX facilities live here.
#include "common/debug_output.h"

#include <cstdlib>
#include <cstring>
#include <string>
#include <syslog.h>
#include <unistd.h>

namespace platform {

namespace {
bool EchoToStderr() {
    static const bool echo = [] {
        const char* v = std::getenv("ADDRWATCH_DEBUG");
        return v != nullptr && std::strcmp(v, "1") == 0;
    }();
    return echo;
}
} // namespace

void WriteDebugMessage(std::string_view message) {
    static const bool opened = [] {
        openlog("addrwatch", LOG_PID, LOG_USER);
        return true;
    }();
    (void)opened;
    const std::string text(message);
    syslog(LOG_DEBUG, "%s", text.c_str());
    if (EchoToStderr()) {
        std::string line = CommonModule::EscapeDebugLine(message);
        line += '\n';
        // One write per message so lines of concurrent processes do not interleave.
        const ssize_t ignored = ::write(STDERR_FILENO, line.data(), line.size());
        (void)ignored;
    }
}

} // namespace platform
