// POSIX version query: uname. No Windows platform id, so IsVista is false.
#include "common/os_info.h"

#include <cstdlib>
#include <sys/utsname.h>

namespace platform {

OsVersionRecord QueryOsVersion() {
    OsVersionRecord r;
    struct utsname u {};
    if (::uname(&u) == 0) {
        char* end = nullptr;
        r.majorVersion = static_cast<std::uint32_t>(std::strtoul(u.release, &end, 10));
        if (end != nullptr && *end == '.') {
            r.minorVersion = static_cast<std::uint32_t>(std::strtoul(end + 1, &end, 10));
        }
        r.csdVersion = u.version;
    }
    return r;
}

} // namespace platform
