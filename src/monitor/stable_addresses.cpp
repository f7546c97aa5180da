#include "monitor/stable_addresses.h"

#include "common/text.h"
#include "monitor/address_scope.h"

#include <algorithm>
#include <cstddef>
#include <optional>
#include <utility>

namespace modGetExternalIP {

namespace {

bool ParseHexNumber(std::string_view field, unsigned& value) {
    if (field.empty() || field.size() > 8) {
        return false;
    }
    value = 0;
    for (const char c : field) {
        const int digit = text::HexDigitValue(c);
        if (digit < 0) {
            return false;
        }
        value = value * 16 + static_cast<unsigned>(digit);
    }
    return true;
}

std::vector<std::string_view> Fields(std::string_view line) {
    std::vector<std::string_view> fields;
    std::size_t start = 0;
    while (true) {
        start = line.find_first_not_of(" \t", start);
        if (start == std::string_view::npos) {
            return fields;
        }
        const std::size_t end = line.find_first_of(" \t", start);
        fields.push_back(line.substr(start, end == std::string_view::npos ? end : end - start));
        if (end == std::string_view::npos) {
            return fields;
        }
        start = end;
    }
}

} // namespace

std::vector<std::string> StableAddressesIn(std::string_view address,
                                           const std::vector<InterfaceIPv6>& addresses) {
    std::vector<std::string> stable;
    const std::string_view bare = address.substr(0, address.find('/'));
    const std::optional<IPv6Bytes> prefix = ParseIPv6(bare);
    if (!prefix) {
        return stable;
    }
    for (const InterfaceIPv6& a : addresses) {
        if (a.temporary || a.deprecated || a.notReady ||
            ScopeOf(a.address) != AddressScope::Public ||
            !std::equal(a.address.begin(), a.address.begin() + 8, prefix->begin())) {
            continue;
        }
        stable.push_back(FormatIPv6(a.address));
    }
    std::sort(stable.begin(), stable.end());
    stable.erase(std::unique(stable.begin(), stable.end()), stable.end());
    return stable;
}

std::vector<KernelIPv6Entry> ParseKernelIPv6List(std::string_view text) {
    std::vector<KernelIPv6Entry> entries;
    std::size_t start = 0;
    while (start < text.size()) {
        std::size_t end = text.find('\n', start);
        if (end == std::string_view::npos) {
            end = text.size();
        }
        const std::vector<std::string_view> f = Fields(text.substr(start, end - start));
        start = end + 1;
        KernelIPv6Entry entry;
        unsigned number = 0;
        if (f.size() != 6 || f[0].size() != 32 || !ParseHexNumber(f[1], number) ||
            !ParseHexNumber(f[2], number) || !ParseHexNumber(f[3], number) ||
            !ParseHexNumber(f[4], entry.flags)) {
            continue;
        }
        bool ok = true;
        for (std::size_t i = 0; i < entry.address.size() && ok; ++i) {
            const int high = text::HexDigitValue(f[0][2 * i]);
            const int low = text::HexDigitValue(f[0][2 * i + 1]);
            ok = high >= 0 && low >= 0;
            entry.address[i] = static_cast<std::uint8_t>(high * 16 + low);
        }
        if (!ok) {
            continue;
        }
        entry.interfaceName = std::string(f[5]);
        entries.push_back(std::move(entry));
    }
    return entries;
}

} // namespace modGetExternalIP
