// Launching the platform's command-line tools and waiting for them.
#pragma once

#include <string>

namespace CommonModule {

// Process-wide switch shown in the wait's trace line; nothing in the program turns it on.
extern bool bDisableWOW64FSRedirection;

// Runs file with parameters (quoted when the file has a blank). True when the file was found
// and a start was attempted; says nothing of the started program's success.
bool ShellX(const std::string& sFile, const std::string& sParameters, bool bWait, int lWindowStyle);

// Starts sShell and polls every 100 ms until it ends, letting window events run once a cycle.
// True when the process could be watched to its end; otherwise sError says why.
bool ShellAndWaitForTermination(const std::string& sShell, int lWindowStyle, std::string& sError);

// Starts sShell and returns at once.
void ShellNoWait(const std::string& sShell, int lWindowStyle);

// The window module installs a pump that runs pending window events once; without a window the
// wait only sleeps. Returns the pump it replaces.
using WindowEventPump = void (*)();
WindowEventPump SetWindowEventPump(WindowEventPump pump);

} // namespace CommonModule
