// Windows version query: GetVersionExA with the extended record, then the basic one.
#include "common/os_info.h"

#include "common/windows_api.h"

#include <cstdlib>
#include <cstring>

namespace platform {

OsVersionRecord QueryOsVersion() {
    OsVersionRecord r;
    OSVERSIONINFOEXA ex{};
    ex.dwOSVersionInfoSize = sizeof(OSVERSIONINFOEXA);
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wdeprecated-declarations"
    bool extended = ::GetVersionExA(reinterpret_cast<OSVERSIONINFOA*>(&ex)) != FALSE;
    if (!extended) {
        ex = {};
        ex.dwOSVersionInfoSize = sizeof(OSVERSIONINFOA);
        if (::GetVersionExA(reinterpret_cast<OSVERSIONINFOA*>(&ex)) == FALSE) {
            return r;
        }
    }
#pragma GCC diagnostic pop
    r.majorVersion = ex.dwMajorVersion;
    r.minorVersion = ex.dwMinorVersion;
    r.buildNumber = ex.dwBuildNumber;
    r.platformId = ex.dwPlatformId;
    r.csdVersion.assign(ex.szCSDVersion, strnlen(ex.szCSDVersion, sizeof ex.szCSDVersion));
    if (extended) {
        r.servicePackMajor = ex.wServicePackMajor;
        r.servicePackMinor = ex.wServicePackMinor;
        r.suiteMask = ex.wSuiteMask;
        r.productType = ex.wProductType;
    }
    return r;
}

// The variable the empty-subject fallback has always read (the environment ignores case).
std::string ComputerName() {
    const char* name = std::getenv("computername");
    return name != nullptr ? name : "";
}

} // namespace platform
