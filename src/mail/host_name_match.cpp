#include "mail/host_name_match.h"

#include "common/text.h"

#include <algorithm>
#include <cstdint>

namespace modSendEmail {

namespace {

bool IsDigit(char c) {
    return c >= '0' && c <= '9';
}

bool IsAlnum(char c) {
    return IsDigit(c) || (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z');
}

// Dotted decimal, four parts of 0..255 without leading zeros, as inet_pton reads it.
std::string ParseIPv4(std::string_view s) {
    std::string out;
    std::size_t i = 0;
    for (int part = 0; part < 4; ++part) {
        if (part > 0) {
            if (i >= s.size() || s[i] != '.') {
                return {};
            }
            ++i;
        }
        const std::size_t start = i;
        unsigned value = 0;
        while (i < s.size() && IsDigit(s[i]) && i - start < 3) {
            value = value * 10 + unsigned(s[i] - '0');
            ++i;
        }
        if (i == start || value > 255 || (s[start] == '0' && i - start > 1)) {
            return {};
        }
        out += char(value);
    }
    return i == s.size() ? out : std::string();
}

// Eight groups of up to four hex digits, one "::" for a run of zero groups, and an IPv4 tail.
std::string ParseIPv6(std::string_view s) {
    std::string head;
    std::string tail;
    bool compressed = false;
    std::size_t i = 0;
    if (s.substr(0, 2) == "::") {
        compressed = true;
        i = 2;
    } else if (!s.empty() && s[0] == ':') {
        return {};
    }
    while (i < s.size()) {
        std::string& out = compressed ? tail : head;
        const std::size_t next = s.find(':', i);
        const std::string_view group =
            s.substr(i, next == std::string_view::npos ? s.npos : next - i);
        if (next == std::string_view::npos && group.find('.') != std::string_view::npos) {
            const std::string v4 = ParseIPv4(group);
            if (v4.empty()) {
                return {};
            }
            out += v4;
            i = s.size();
            break;
        }
        if (group.empty() || group.size() > 4) {
            return {};
        }
        unsigned value = 0;
        for (char c : group) {
            const int h = text::HexDigitValue(c);
            if (h < 0) {
                return {};
            }
            value = value * 16 + unsigned(h);
        }
        out += char(value >> 8);
        out += char(value & 0xff);
        if (next == std::string_view::npos) {
            i = s.size();
            break;
        }
        i = next + 1;
        if (i < s.size() && s[i] == ':') {
            if (compressed) {
                return {};
            }
            compressed = true;
            ++i;
        } else if (i == s.size()) {
            return {}; // a single trailing colon
        }
    }
    const std::size_t size = head.size() + tail.size();
    if (size > 16 || (!compressed && size != 16) || (compressed && size == 16)) {
        return {};
    }
    return head + std::string(16 - size, '\0') + tail;
}

// The pattern's "*.rest" form: "*" as the whole first label, and the rest at least two labels
// of letters, digits and inner hyphens. Anything else is compared literally.
bool IsWildcardPattern(std::string_view pattern) {
    if (pattern.size() < 2 || pattern[0] != '*' || pattern[1] != '.') {
        return false;
    }
    int dots = 1;
    bool labelStart = true;
    bool afterHyphen = false;
    for (std::size_t i = 2; i < pattern.size(); ++i) {
        const char c = pattern[i];
        if (c == '.') {
            if (labelStart || afterHyphen) {
                return false;
            }
            ++dots;
            labelStart = true;
        } else if (c == '-') {
            if (labelStart) {
                return false;
            }
            afterHyphen = true;
        } else if (IsAlnum(c)) {
            labelStart = false;
            afterHyphen = false;
        } else {
            return false;
        }
    }
    return dots >= 2 && !labelStart && !afterHyphen;
}

bool DnsNameMatches(std::string_view pattern, std::string_view host) {
    if (pattern.empty() || pattern.find('\0') != std::string_view::npos) {
        return false;
    }
    if (!IsWildcardPattern(pattern)) {
        return text::EqualsIgnoreCaseAscii(pattern, host);
    }
    const std::string_view suffix = pattern.substr(1); // ".rest"
    if (host.size() <= suffix.size() ||
        !text::EqualsIgnoreCaseAscii(host.substr(host.size() - suffix.size()), suffix)) {
        return false;
    }
    // The star stands for exactly one non-empty label.
    const std::string_view label = host.substr(0, host.size() - suffix.size());
    return std::all_of(label.begin(), label.end(), [](char c) { return IsAlnum(c) || c == '-'; });
}

} // namespace

std::string DecodedName(std::string_view name) {
    if (!name.empty() && name.back() == '\0') {
        name.remove_suffix(1);
    }
    return std::string(name);
}

std::string ParseAddressLiteral(std::string_view host) {
    if (host.find(':') != std::string_view::npos) {
        return ParseIPv6(host);
    }
    return ParseIPv4(host);
}

bool CertificateMatchesHost(const CertificateNames& names, std::string_view host) {
    if (host.empty()) {
        return false;
    }
    if (const std::string address = ParseAddressLiteral(host); !address.empty()) {
        return std::find(names.ipAddresses.begin(), names.ipAddresses.end(), address) !=
               names.ipAddresses.end();
    }
    const std::vector<std::string>& candidates =
        names.dnsNames.empty() ? names.commonNames : names.dnsNames;
    return std::any_of(candidates.begin(), candidates.end(),
                       [&](const std::string& pattern) { return DnsNameMatches(pattern, host); });
}

} // namespace modSendEmail
