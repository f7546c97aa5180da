// What a check run leaves behind once it knows its outcome: the health values in the store, a
// warning where administrators look when it failed, the failure alert when it is due, and the
// heartbeat. None of it changes what the run stored or sent.
#pragma once

#include "health/check_outcome.h"

#include <string>

namespace health {

void FinishCheckRun(const CheckOutcome& outcome);

// The window's status line from the stored LastCheckTime and LastCheckDetail.
std::string StoredStatusLine();

} // namespace health
