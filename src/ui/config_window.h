// Opening the configuration window: for /config (the process ends when it closes) and, modal,
// for the installer hook.
#pragma once

#include <string>

namespace ui {

enum class WindowOutcome {
    Closed,      // the window was shown and has been closed
    NoDisplay,   // there is nowhere to show it; reason says why
    Unavailable, // the window could not be built (module missing, ...); reason says why
};

// Shows Form1 and returns when it has been closed. The platform's renderer does the work.
WindowOutcome ShowForm1(bool modal, std::string& reason);

// The installer hook's window step: modal; when it cannot be shown it logs why and returns.
void ShowConfigWindowModal();

} // namespace ui
