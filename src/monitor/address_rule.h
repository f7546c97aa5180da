// What a check page's answer must be to count as an address (the ValidateAddress setting), and
// the one written form an address is stored and mailed in, so the same address never looks like
// a change because a page spells it differently. Portable: both targets parse and write
// addresses with this code, not with the system's converters.
#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace modGetExternalIP {

enum class AddressRule {
    Off,  // the last line is the address, whatever it says
    Any,  // an IPv4 or an IPv6 address
    IPv4, // an IPv4 address only
    IPv6, // an IPv6 address only
};

// ValidateAddress's value as a rule, blanks and tabs around it ignored: empty or "0" Off, "1"
// Any, "4" IPv4, "6" IPv6. Any other value asks for checked answers without naming a family,
// so it is Any: a value set by hand never silently turns the check off.
AddressRule AddressRuleFromSetting(std::string_view value);

using IPv4Bytes = std::array<std::uint8_t, 4>;
using IPv6Bytes = std::array<std::uint8_t, 16>;

// Strict dotted decimal: four parts of 1 to 3 digits, each at most 255, no leading zero ("010"
// reads as octal in many parsers, so it is ambiguous and refused). Nothing else around it.
std::optional<IPv4Bytes> ParseIPv4(std::string_view text);
// Every spelling RFC 4291 allows: 8 groups of 1 to 4 hex digits in either case, one "::" for
// one or more zero groups, and a dotted-decimal IPv4 tail (strict as above) for the last 32
// bits. No zone ("%eth0"), no brackets, no prefix length.
std::optional<IPv6Bytes> ParseIPv6(std::string_view text);

// "a.b.c.d" in decimal.
std::string FormatIPv4(const IPv4Bytes& address);
// RFC 5952: lower-case hex without leading zeros, the longest run of two or more zero groups
// (the first of equal runs) as "::"; an IPv4-mapped address (::ffff:0:0/96) as "::ffff:a.b.c.d".
std::string FormatIPv6(const IPv6Bytes& address);

// The address the line gives under the rule, in its written form, or no value when the line
// fails the rule. Off: the line as it stands. Otherwise blanks, tabs and line feeds around the
// address are ignored (a lone LF stays in a last line, and many pages end their answer with one).
// An IPv4-mapped IPv6 address names an IPv4 host: Any and IPv4 take it as that IPv4 address
// (so a dual-stack page's "::ffff:203.0.113.7" and an IPv4 page's "203.0.113.7" agree); IPv6
// refuses it. Applying the rule to its own result gives that result again.
std::optional<std::string> ApplyAddressRule(AddressRule rule, std::string_view line);

} // namespace modGetExternalIP
