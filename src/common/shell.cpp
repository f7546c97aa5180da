// ShellX and its waits: the log lines and the polling loop. Starting and querying processes is
// the platform's part (shell_process.h).
#include "common/shell.h"

#include "common/dprint.h"
#include "common/file_checks.h"
#include "common/shell_process.h"
#include "common/strip.h"

#include <string>

namespace CommonModule {

bool bDisableWOW64FSRedirection = false;

namespace {

WindowEventPump gPump = nullptr;

constexpr unsigned kPollMilliseconds = 100;

std::string TrueFalse(bool b) {
    return b ? "True" : "False";
}

void ReportError(const char* routine, const VbError& error, const std::string& sShell) {
    DPrint(std::string("CommonModule\\") + routine + " VB ERROR: " + std::to_string(error.number) +
           " " + error.description);
    DPrint("\t- sShell=" + sShell);
}

} // namespace

WindowEventPump SetWindowEventPump(WindowEventPump pump) {
    const WindowEventPump previous = gPump;
    gPump = pump;
    return previous;
}

bool ShellX(const std::string& sFile, const std::string& sParameters, bool bWait,
            int lWindowStyle) {
    const std::string file = Strip(sFile, "\"");
    if (!DoesFileExist(file)) {
        DPrint("ShellX:  DoesFileExist reports false, aborting.\r\n\t" + file);
        return false;
    }
    std::string command = file.find(' ') != std::string::npos ? "\"" + file + "\"" : file;
    if (!sParameters.empty()) {
        command += " " + sParameters;
    }
    if (bWait) {
        std::string scratch;
        ShellAndWaitForTermination(command, lWindowStyle, scratch);
    } else {
        ShellNoWait(command, lWindowStyle);
    }
    return true;
}

bool ShellAndWaitForTermination(const std::string& sShell, int lWindowStyle, std::string& sError) {
    DPrint("ShellandWaitForTermination:  " + sShell);
    DPrint("\tbDisableWOW64FSRedirection=" + TrueFalse(bDisableWOW64FSRedirection) +
           " Is64bitOS=" + TrueFalse(Is64bitOS("")));

    auto started = platform::StartProcess(sShell, lWindowStyle);
    if (!started) {
        sError = started.error().description;
        ReportError("ShellAndWaitForTermination", started.error(), sShell);
        return false;
    }
    platform::StartedProcess& process = *started.value();

    bool success = false;
    if (!process.OpenForQuery()) {
        sError = "This program could not determine whether the process started."
                 "Please watch the program and check it completes.";
    } else {
        success = true;
        // No time limit: the tool runs as long as it needs, and the window stays served.
        unsigned long exitCode = platform::kStillActive;
        do {
            const auto code = process.ExitCode();
            if (!code) {
                sError = code.error().description;
                ReportError("ShellAndWaitForTermination", code.error(), sShell);
                return false;
            }
            exitCode = code.value();
            if (gPump != nullptr) {
                gPump();
            }
            platform::SleepMilliseconds(kPollMilliseconds);
        } while (exitCode == platform::kStillActive);
    }
    DPrint("\tSuccess=" + TrueFalse(success));
    return success;
}

void ShellNoWait(const std::string& sShell, int lWindowStyle) {
    const auto started = platform::StartProcess(sShell, lWindowStyle);
    if (!started) {
        ReportError("ShellNoWait", started.error(), sShell);
    }
}

} // namespace CommonModule
