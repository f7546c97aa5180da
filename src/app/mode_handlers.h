// The four run modes that the entry routine hands over to.
#pragma once

#include "health/check_outcome.h"
#include <string>

namespace modGetExternalIP {

// The check run: look up the WAN address, compare, remember, notify; what it came to.
health::CheckOutcome CheckWanIP();
// The check run as the run modes start it: CheckWanIP while no other check run is in progress on
// this machine, then its outcome recorded (health_record.h); otherwise one diagnostic message and
// nothing else: the run that holds the guard records its own outcome.
void GuardedCheckRun();
// The configuration window, non-modal; returns when it has been closed.
void RunConfigWindow();
// The installer and uninstaller hooks.
void InstallActions();
void UninstallActions();
// addrwatch /signin: the OAuth sign-in in the terminal. The exit status: 0 signed in, 1 refused,
// denied, expired or cancelled, 2 a settings error.
int SignInFromTerminal();
// The install actions, with the window left shut when unattended (InstallActions asks the
// environment's ADDRWATCH_UNATTENDED).
void InstallActions(bool unattended);

// The Windows Installer package's hooks, run as the system account, which the package cannot
// give files and access lists that depend on the settings. InstallActionsUnattended protects the
// program's folder, puts settingsFile (when not empty) in place as the settings file, protects
// the settings file, then runs the install actions unattended; false, with nothing more done,
// when one of the first three steps failed. UninstallActionsPurge runs the uninstall actions,
// then removes the settings file and the check run's guard file.
bool InstallActionsUnattended(const std::string& settingsFile);
void UninstallActionsPurge();

} // namespace modGetExternalIP
