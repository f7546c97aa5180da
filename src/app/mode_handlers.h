// The four run modes that the entry routine hands over to.
#pragma once

#include "health/check_outcome.h"

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

} // namespace modGetExternalIP
