#include "monitor/address_rule.h"

#include "common/text.h"

#include <cstddef>

namespace modGetExternalIP {

namespace {

constexpr std::string_view kBlanks = " \t";
constexpr std::string_view kBlanksAndLineFeeds = " \t\n";

std::string_view TrimAround(std::string_view text, std::string_view what) {
    const std::size_t first = text.find_first_not_of(what);
    if (first == std::string_view::npos) {
        return {};
    }
    return text.substr(first, text.find_last_not_of(what) - first + 1);
}

bool IsDigit(char c) {
    return c >= '0' && c <= '9';
}

// One dotted-decimal part: 1 to 3 digits, no leading zero, at most 255.
std::optional<std::uint8_t> ParseOctet(std::string_view part) {
    if (part.empty() || part.size() > 3 || (part.size() > 1 && part[0] == '0')) {
        return std::nullopt;
    }
    int value = 0;
    for (const char c : part) {
        if (!IsDigit(c)) {
            return std::nullopt;
        }
        value = value * 10 + (c - '0');
    }
    if (value > 255) {
        return std::nullopt;
    }
    return static_cast<std::uint8_t>(value);
}

// One group of 1 to 4 hex digits.
std::optional<std::uint16_t> ParseGroup(std::string_view group) {
    if (group.empty() || group.size() > 4) {
        return std::nullopt;
    }
    unsigned value = 0;
    for (const char c : group) {
        const int digit = text::HexDigitValue(c);
        if (digit < 0) {
            return std::nullopt;
        }
        value = value * 16 + static_cast<unsigned>(digit);
    }
    return static_cast<std::uint16_t>(value);
}

// The 16-bit groups of one side of "::" (or of the whole address), written into groups[at...].
// The last field may be a dotted-decimal IPv4 tail when allowTail. Returns the number of groups
// written, or -1 when the side is malformed or does not fit in room groups.
int ParseGroups(std::string_view side, bool allowTail, std::uint16_t* groups, int room) {
    if (side.empty()) {
        return 0;
    }
    int count = 0;
    std::size_t start = 0;
    while (true) {
        const std::size_t colon = side.find(':', start);
        const std::string_view field = side.substr(
            start, colon == std::string_view::npos ? std::string_view::npos : colon - start);
        if (colon == std::string_view::npos && allowTail &&
            field.find('.') != std::string_view::npos) {
            const std::optional<IPv4Bytes> tail = ParseIPv4(field);
            if (!tail || count + 2 > room) {
                return -1;
            }
            groups[count++] = static_cast<std::uint16_t>((*tail)[0] << 8 | (*tail)[1]);
            groups[count++] = static_cast<std::uint16_t>((*tail)[2] << 8 | (*tail)[3]);
            return count;
        }
        const std::optional<std::uint16_t> group = ParseGroup(field);
        if (!group || count + 1 > room) {
            return -1;
        }
        groups[count++] = *group;
        if (colon == std::string_view::npos) {
            return count;
        }
        start = colon + 1;
    }
}

bool IsIPv4Mapped(const IPv6Bytes& a) {
    for (std::size_t i = 0; i < 10; ++i) {
        if (a[i] != 0) {
            return false;
        }
    }
    return a[10] == 0xff && a[11] == 0xff;
}

IPv4Bytes MappedIPv4(const IPv6Bytes& a) {
    return {a[12], a[13], a[14], a[15]};
}

void AppendHex(std::string& out, unsigned value) {
    constexpr const char* kDigits = "0123456789abcdef";
    char buffer[4];
    int n = 0;
    do {
        buffer[n++] = kDigits[value & 0xf];
        value >>= 4;
    } while (value != 0);
    while (n > 0) {
        out += buffer[--n];
    }
}

} // namespace

AddressRule AddressRuleFromSetting(std::string_view value) {
    const std::string_view v = TrimAround(value, kBlanks);
    if (v.empty() || v == "0") {
        return AddressRule::Off;
    }
    if (v == "4") {
        return AddressRule::IPv4;
    }
    if (v == "6") {
        return AddressRule::IPv6;
    }
    return AddressRule::Any;
}

std::optional<IPv4Bytes> ParseIPv4(std::string_view text) {
    IPv4Bytes bytes{};
    std::size_t start = 0;
    for (std::size_t i = 0; i < bytes.size(); ++i) {
        const std::size_t dot = text.find('.', start);
        const bool last = i + 1 == bytes.size();
        if (last != (dot == std::string_view::npos)) {
            return std::nullopt;
        }
        const std::optional<std::uint8_t> octet =
            ParseOctet(text.substr(start, last ? std::string_view::npos : dot - start));
        if (!octet) {
            return std::nullopt;
        }
        bytes[i] = *octet;
        start = dot + 1;
    }
    return bytes;
}

std::optional<IPv6Bytes> ParseIPv6(std::string_view text) {
    constexpr int kGroups = 8;
    std::uint16_t head[kGroups] = {};
    std::uint16_t tail[kGroups] = {};
    int headCount = 0;
    int tailCount = 0;
    const std::size_t gap = text.find("::");
    if (gap == std::string_view::npos) {
        headCount = ParseGroups(text, true, head, kGroups);
        if (headCount != kGroups) {
            return std::nullopt;
        }
    } else {
        const std::string_view before = text.substr(0, gap);
        const std::string_view after = text.substr(gap + 2);
        if (after.find("::") != std::string_view::npos) {
            return std::nullopt;
        }
        // "::" stands for at least one zero group, so at most seven are written.
        headCount = ParseGroups(before, false, head, kGroups - 1);
        if (headCount < 0) {
            return std::nullopt;
        }
        tailCount = ParseGroups(after, true, tail, kGroups - 1 - headCount);
        if (tailCount < 0) {
            return std::nullopt;
        }
    }
    std::uint16_t groups[kGroups] = {};
    for (int i = 0; i < headCount; ++i) {
        groups[i] = head[i];
    }
    for (int i = 0; i < tailCount; ++i) {
        groups[kGroups - tailCount + i] = tail[i];
    }
    IPv6Bytes bytes{};
    for (int i = 0; i < kGroups; ++i) {
        bytes[2 * i] = static_cast<std::uint8_t>(groups[i] >> 8);
        bytes[2 * i + 1] = static_cast<std::uint8_t>(groups[i] & 0xff);
    }
    return bytes;
}

std::string FormatIPv4(const IPv4Bytes& address) {
    std::string out;
    for (std::size_t i = 0; i < address.size(); ++i) {
        if (i > 0) {
            out += '.';
        }
        out += std::to_string(address[i]);
    }
    return out;
}

std::string FormatIPv6(const IPv6Bytes& address) {
    if (IsIPv4Mapped(address)) {
        return "::ffff:" + FormatIPv4(MappedIPv4(address));
    }
    constexpr int kGroups = 8;
    unsigned groups[kGroups];
    for (int i = 0; i < kGroups; ++i) {
        groups[i] = static_cast<unsigned>(address[2 * i] << 8 | address[2 * i + 1]);
    }
    // The first longest run of zero groups, if it is at least two long.
    int bestStart = -1;
    int bestLength = 1;
    for (int i = 0; i < kGroups;) {
        if (groups[i] != 0) {
            ++i;
            continue;
        }
        int end = i;
        while (end < kGroups && groups[end] == 0) {
            ++end;
        }
        if (end - i > bestLength) {
            bestStart = i;
            bestLength = end - i;
        }
        i = end;
    }
    std::string out;
    for (int i = 0; i < kGroups; ++i) {
        if (i == bestStart) {
            out += "::";
            i += bestLength - 1;
            continue;
        }
        if (!out.empty() && out.back() != ':') {
            out += ':';
        }
        AppendHex(out, groups[i]);
    }
    return out;
}

std::optional<std::string> ApplyAddressRule(AddressRule rule, std::string_view line) {
    if (rule == AddressRule::Off) {
        return std::string(line);
    }
    const std::string_view text = TrimAround(line, kBlanksAndLineFeeds);
    if (rule != AddressRule::IPv6) {
        if (const std::optional<IPv4Bytes> v4 = ParseIPv4(text)) {
            return FormatIPv4(*v4);
        }
    }
    const std::optional<IPv6Bytes> v6 = ParseIPv6(text);
    if (!v6) {
        return std::nullopt;
    }
    if (IsIPv4Mapped(*v6)) {
        if (rule == AddressRule::IPv6) {
            return std::nullopt;
        }
        return FormatIPv4(MappedIPv4(*v6));
    }
    if (rule == AddressRule::IPv4) {
        return std::nullopt;
    }
    return FormatIPv6(*v6);
}

} // namespace modGetExternalIP
