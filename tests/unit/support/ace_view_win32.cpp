#include "support/ace_view_win32.h"

#include "common/win32_handle.h"

#include <sddl.h>

namespace testing_support {

std::ostream& operator<<(std::ostream& os, const AceView& a) {
    return os << "{type " << int(a.type) << ", flags 0x" << std::hex << int(a.flags) << ", mask 0x"
              << a.mask << std::dec << ", " << a.sid << "}";
}

std::string SidText(PSID sid) {
    char* text = nullptr;
    if (sid == nullptr || !::ConvertSidToStringSidA(sid, &text)) {
        return "?";
    }
    const win32::LocalMemory owner(text);
    return text;
}

} // namespace testing_support
