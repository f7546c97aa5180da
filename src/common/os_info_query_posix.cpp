// POSIX version query: uname. No Windows platform id, so IsVista is false.
#include "common/os_info.h"

#include <climits>
#include <cstdlib>
#include <sys/utsname.h>
#include <unistd.h>

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

std::string ComputerName() {
    char name[HOST_NAME_MAX + 1] = {};
    if (::gethostname(name, sizeof name - 1) != 0) {
        return {};
    }
    return name;
}

} // namespace platform
