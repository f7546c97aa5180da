#include "common/os_info.h"

#include <utility>

namespace {
constexpr std::uint32_t kPlatformWin32Nt = 2;
} // namespace

clsOpSys::clsOpSys() : clsOpSys(platform::QueryOsVersion()) {}

clsOpSys::clsOpSys(OsVersionRecord record) : record_(std::move(record)) {
    const auto nul = record_.csdVersion.find('\0');
    if (nul != std::string::npos) {
        record_.csdVersion.resize(nul);
    }
    isVista_ = record_.platformId == kPlatformWin32Nt && record_.majorVersion >= 6;
}

namespace CommonModule {

bool IsVistaOrLater() {
    return clsOpSys().IsVista();
}

} // namespace CommonModule
