// clsOpSys: the running system's version, read once when the object is made.
#pragma once

#include <cstdint>
#include <string>

// What the system's version query reports. The extended fields stay zero when only the basic
// record was available; everything is zero when both queries failed.
struct OsVersionRecord {
    std::uint32_t majorVersion = 0;
    std::uint32_t minorVersion = 0;
    std::uint32_t buildNumber = 0;
    std::uint32_t platformId = 0; // 1: Windows 9x family, 2: Windows NT family, 0: unknown
    std::string csdVersion;       // service-pack text, cut at its first NUL
    std::uint16_t servicePackMajor = 0;
    std::uint16_t servicePackMinor = 0;
    std::uint16_t suiteMask = 0;
    std::uint8_t productType = 0;
};

namespace platform {
// Windows: GetVersionExA, extended record first, then the basic one. POSIX: uname, with
// platform id 0 so that no Windows rule applies.
OsVersionRecord QueryOsVersion();
// The machine's name: the environment's COMPUTERNAME on Windows, the host name on POSIX (which
// sets no such variable). Empty when unknown.
std::string ComputerName();
} // namespace platform

class clsOpSys {
public:
    clsOpSys();
    explicit clsOpSys(OsVersionRecord record);

    // Windows NT family with major version 6 (Vista) or later.
    bool IsVista() const { return isVista_; }
    std::uint32_t MajorVersion() const { return record_.majorVersion; }
    std::uint32_t MinorVersion() const { return record_.minorVersion; }
    std::uint32_t BuildNumber() const { return record_.buildNumber; }
    std::uint32_t PlatformID() const { return record_.platformId; }
    const std::string& CSDVersion() const { return record_.csdVersion; }

private:
    OsVersionRecord record_;
    bool isVista_ = false;
};

namespace CommonModule {
// A fresh clsOpSys's IsVista: the system is read anew on each call.
bool IsVistaOrLater();
} // namespace CommonModule
