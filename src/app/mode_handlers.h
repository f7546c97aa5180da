// The four run modes that the entry routine hands over to.
#pragma once

namespace modGetExternalIP {

// The check run: look up the WAN address, compare, remember, notify.
void CheckWanIP();
// The check run as the run modes start it: CheckWanIP while no other check run is in progress on
// this machine; otherwise one diagnostic message and nothing else.
void GuardedCheckRun();
// The configuration window, non-modal; returns when it has been closed.
void RunConfigWindow();
// The installer and uninstaller hooks.
void InstallActions();
void UninstallActions();

} // namespace modGetExternalIP
