// The check run when IPv6 is watched beside IPv4 (WhatIsMyIPv6 set): both families looked up,
// one notice covering both when either has changed or its notice is still owed.
#pragma once

#include "health/check_outcome.h"

namespace modGetExternalIP {

// True when WhatIsMyIPv6 lists anything.
bool IPv6Watched();

// The run for both families. IPv4 keeps its rules (ValidateAddress "1" read as "4"); IPv6 is
// compared as IPv6Compare says, and a failed IPv6 lookup changes nothing and never sends by
// itself. Each family's at-least-once mark is set before the send and dropped at the server's
// acceptance; a failed send puts back the last address of each family the notice told as new.
// The outcome is a failed lookup only when both families failed.
health::CheckOutcome CheckBothFamilies();

} // namespace modGetExternalIP
