// Any page answer: under "4" only what the system reads as IPv4 (or as an IPv4-mapped IPv6
// address) passes, under "6" only other IPv6 addresses, and "1" is exactly their union; the
// strict parsers agree with the system's on every text, the written form with the system's
// (except where it still writes the deprecated IPv4-compatible form); and the written form of
// a passing answer passes again as itself.
#include "invariant.h"
#include "monitor/address_rule.h"
#include "system_address.h"

#include <string>

using namespace modGetExternalIP;

using fuzzing::Check;

namespace {

bool IsIPv4Mapped(const IPv6Bytes& a) {
    for (int i = 0; i < 10; ++i) {
        if (a[i] != 0) {
            return false;
        }
    }
    return a[10] == 0xff && a[11] == 0xff;
}

// ::a.b.c.d, which the system still writes with a dotted tail.
bool IsIPv4Compatible(const IPv6Bytes& a) {
    for (int i = 0; i < 12; ++i) {
        if (a[i] != 0) {
            return false;
        }
    }
    return a[12] != 0 || a[13] != 0;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string line(reinterpret_cast<const char*>(data), size);
    (void)AddressRuleFromSetting(line);

    Check(ApplyAddressRule(AddressRule::Off, line) == line, "without a rule the line stands");
    const auto v4 = ApplyAddressRule(AddressRule::IPv4, line);
    const auto v6 = ApplyAddressRule(AddressRule::IPv6, line);
    const auto any = ApplyAddressRule(AddressRule::Any, line);
    Check(!(v4 && v6), "no answer is both IPv4 and IPv6");
    Check(any == (v4 ? v4 : v6), "IPv4 or IPv6 is the union of the two");

    const std::size_t first = line.find_first_not_of(" \t\n");
    const std::string text = first == std::string::npos
                                 ? ""
                                 : line.substr(first, line.find_last_not_of(" \t\n") + 1 - first);
    if (line.find('\0') == std::string::npos) {
        // The strict parsers read exactly what the system reads.
        const auto p4 = ParseIPv4(line);
        Check(p4 == fuzzing::SystemParseIPv4(line), "IPv4 parsing agrees with the system's");
        const auto p6 = ParseIPv6(line);
        Check(p6 == fuzzing::SystemParseIPv6(line), "IPv6 parsing agrees with the system's");
        if (p6 && !IsIPv4Compatible(*p6)) {
            Check(FormatIPv6(*p6) == fuzzing::SystemFormatIPv6(*p6),
                  "the written IPv6 form is the system's");
        }
        const auto s4 = fuzzing::SystemParseIPv4(text);
        const auto s6 = fuzzing::SystemParseIPv6(text);
        Check(v4.has_value() == (s4 || (s6 && IsIPv4Mapped(*s6))),
              "\"4\" takes exactly what reads as an IPv4 address");
        Check(v6.has_value() == (s6 && !IsIPv4Mapped(*s6)),
              "\"6\" takes exactly what reads as an IPv6 address");
    }

    for (const auto& [rule, result] :
         {std::pair{AddressRule::IPv4, v4}, {AddressRule::IPv6, v6}, {AddressRule::Any, any}}) {
        if (result) {
            Check(ApplyAddressRule(rule, *result) == result &&
                      ApplyAddressRule(AddressRule::Any, *result) == result,
                  "the written form passes again as itself");
        }
    }
    if (v4) {
        const auto bytes = ParseIPv4(*v4);
        Check(bytes && FormatIPv4(*bytes) == *v4, "the IPv4 form reads back to itself");
    }
    if (v6) {
        const auto bytes = ParseIPv6(*v6);
        Check(bytes && FormatIPv6(*bytes) == *v6 && !ParseIPv4(*v6),
              "the IPv6 form reads back to itself");
    }
    return 0;
}
