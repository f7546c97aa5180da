// Access-control entries as the security tests compare them: type, flags, mask and the SID in
// its string form. Windows tests only.
#pragma once

#include "common/windows_api.h"

#include <ostream>
#include <string>

namespace testing_support {

struct AceView {
    BYTE type;
    BYTE flags;
    DWORD mask;
    std::string sid;
    bool operator==(const AceView&) const = default;
};

std::ostream& operator<<(std::ostream& os, const AceView& a);

// The SID's "S-1-..." form, or "?" for a null or unreadable one.
std::string SidText(PSID sid);

} // namespace testing_support
