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
// addrwatch /signin: the OAuth sign-in in the terminal. The exit status: 0 signed in, 1 refused,
// denied, expired or cancelled, 2 a settings error.
int SignInFromTerminal();

} // namespace modGetExternalIP
