// The heartbeat: after each check run, one GET of the address the outcome asks for, so that a
// monitor notices a watch that fails or stops. What comes back is thrown away.
#pragma once

#include "health/check_outcome.h"
#include "monitor/page_download.h"

#include <chrono>
#include <string>

namespace health {

// HeartbeatURL after unchanged and notified runs, HeartbeatFailURL after failing ones; empty
// when that key is missing or empty.
std::string HeartbeatAddress(CheckResult result);

// The bounds of one heartbeat request: 10 s, 64 KiB, no redirect from https to plain http.
platform::DownloadBounds HeartbeatBounds();

// Asks the outcome's heartbeat address, if one is set, over the page download. A heartbeat that
// fails costs one diagnostic message naming only the address's host (the rest may hold the
// monitor's secret id); it changes nothing else.
void SendHeartbeat(CheckResult result);

} // namespace health
