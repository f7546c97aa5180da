// The contract between the program and its Qt window module (POSIX): the module exports one
// entry point that runs Form1 in a window and returns when it has been closed. The program
// loads the module only when a window is needed, so the check run never maps the toolkit.
#pragma once

#include "ui/form_view.h"

namespace ui {

inline constexpr const char* kWindowModuleFile = "libaddrwatch_qt.so";
inline constexpr const char* kWindowModuleEntry = "addrwatch_show_form";

// What the entry point returns.
inline constexpr int kWindowClosed = 0;
inline constexpr int kWindowNoDisplay = 1;
inline constexpr int kWindowNoPlatform = 2; // no plugin for the platform QT_QPA_PLATFORM names

using WindowModuleEntry = int (*)(FormHost* host, int modal);

} // namespace ui
