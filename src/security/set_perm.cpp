// SetPerm, the part that does not depend on the platform: the rights vocabulary.
#include "security/set_perm.h"

namespace SetPerm {

std::uint32_t AccessMaskFromRights(const std::string& sRights) {
    constexpr std::uint32_t kRead = 0x20019;  // KEY_READ
    constexpr std::uint32_t kWrite = 0x20006; // KEY_WRITE
    constexpr std::uint32_t kAll = 0xF003F;   // KEY_ALL_ACCESS
    if (sRights == "R" || sRights == "Read" || sRights == "X" || sRights == "Execute") {
        return kRead;
    }
    if (sRights == "W" || sRights == "Write") {
        return kWrite;
    }
    return kAll;
}

} // namespace SetPerm
