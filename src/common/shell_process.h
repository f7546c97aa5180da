// The platform half of the launcher: start a command, watch it, sleep. The portable half
// (shell.cpp) owns the log lines and the polling loop.
#pragma once

#include "common/vb_error.h"

#include <memory>
#include <string>

namespace platform {

// The exit code the platform reports while a process still runs.
inline constexpr unsigned long kStillActive = 259;

// A process this program started. Releasing it never ends the process.
class StartedProcess {
public:
    virtual ~StartedProcess() = default;
    // Opens the process by its identifier with the right to query information (Windows:
    // OpenProcess(0x400)); false when no handle was obtained.
    virtual bool OpenForQuery() = 0;
    // The exit code of the opened process, kStillActive while it runs.
    virtual Outcome<unsigned long> ExitCode() = 0;
};

// Starts the whole command text with the window style (ignored where windows have no style).
Outcome<std::unique_ptr<StartedProcess>> StartProcess(const std::string& command, int windowStyle);

void SleepMilliseconds(unsigned milliseconds);

} // namespace platform
