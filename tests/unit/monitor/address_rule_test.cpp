// The address rule: which answers pass under each ValidateAddress value, the written form they
// are stored in, and the setting's values.
#include "monitor/address_rule.h"

#include <gtest/gtest.h>

#include <optional>
#include <string>

using namespace modGetExternalIP;

namespace {

// No value: the line fails the rule.
constexpr const char* kFails = nullptr;

std::optional<std::string> Expected(const char* text) {
    return text == nullptr ? std::nullopt : std::optional<std::string>(text);
}

} // namespace

TEST(ApplyAddressRule, AnswersUnderEachFamilyRule) {
    struct Case {
        const char* line;
        const char* any; // ValidateAddress=1
        const char* v4;  // ValidateAddress=4
        const char* v6;  // ValidateAddress=6
    } cases[] = {
        {"203.0.113.7", "203.0.113.7", "203.0.113.7", kFails},
        {" \t203.0.113.7\t ", "203.0.113.7", "203.0.113.7", kFails},
        {"203.0.113.7\n", "203.0.113.7", "203.0.113.7", kFails},
        {"0.0.0.0", "0.0.0.0", "0.0.0.0", kFails},
        {"255.255.255.255", "255.255.255.255", "255.255.255.255", kFails},
        // Leading zeros read as octal elsewhere; out-of-range or missing parts.
        {"203.0.113.07", kFails, kFails, kFails},
        {"010.0.0.1", kFails, kFails, kFails},
        {"203.0.113.256", kFails, kFails, kFails},
        {"203.0.113.1000", kFails, kFails, kFails},
        {"203.0.113", kFails, kFails, kFails},
        {"203.0.113.7.1", kFails, kFails, kFails},
        {"203.0.113.7.", kFails, kFails, kFails},
        {"203..113.7", kFails, kFails, kFails},
        {"203.0.113.+7", kFails, kFails, kFails},
        {"0x7f.0.0.1", kFails, kFails, kFails},
        {"3405803783", kFails, kFails, kFails},
        {"203.0.113.7 extra", kFails, kFails, kFails},
        {"IP: 203.0.113.7", kFails, kFails, kFails},
        {"203.0. 113.7", kFails, kFails, kFails},
        // IPv6 in several spellings, each written one way.
        {"2001:db8::1", "2001:db8::1", kFails, "2001:db8::1"},
        {"2001:0DB8:0000:0000:0000:0000:0000:0001", "2001:db8::1", kFails, "2001:db8::1"},
        {" 2001:DB8:0:0:0:0:0:1 ", "2001:db8::1", kFails, "2001:db8::1"},
        {"2001:db8:0:0:1:0:0:1", "2001:db8::1:0:0:1", kFails, "2001:db8::1:0:0:1"},
        {"2001:db8:0:1:1:1:1:1", "2001:db8:0:1:1:1:1:1", kFails, "2001:db8:0:1:1:1:1:1"},
        {"2001:db8::0:1:0:0:1", "2001:db8::1:0:0:1", kFails, "2001:db8::1:0:0:1"},
        {"::", "::", kFails, "::"},
        {"::1", "::1", kFails, "::1"},
        {"1::", "1::", kFails, "1::"},
        {"1:2:3:4:5:6:7::", "1:2:3:4:5:6:7:0", kFails, "1:2:3:4:5:6:7:0"},
        {"fe80::", "fe80::", kFails, "fe80::"},
        {"::ffff:0:1.2.3.4", "::ffff:0:102:304", kFails, "::ffff:0:102:304"},
        {"64:ff9b::192.0.2.33", "64:ff9b::c000:221", kFails, "64:ff9b::c000:221"},
        {"::192.0.2.33", "::c000:221", kFails, "::c000:221"},
        {"1:2:3:4:5:6:192.0.2.33", "1:2:3:4:5:6:c000:221", kFails, "1:2:3:4:5:6:c000:221"},
        // IPv4-mapped: the IPv4 host it names.
        {"::ffff:203.0.113.7", "203.0.113.7", "203.0.113.7", kFails},
        {"::FFFF:cb00:7107", "203.0.113.7", "203.0.113.7", kFails},
        {"0:0:0:0:0:ffff:203.0.113.7", "203.0.113.7", "203.0.113.7", kFails},
        // Malformed IPv6.
        {"2001:db8::1::2", kFails, kFails, kFails},
        {"2001:db8:::1", kFails, kFails, kFails},
        {":2001:db8::1", kFails, kFails, kFails},
        {"2001:db8::1:", kFails, kFails, kFails},
        {"1:2:3:4:5:6:7:8:9", kFails, kFails, kFails},
        {"1:2:3:4:5:6:7", kFails, kFails, kFails},
        {"1:2:3:4:5:6:7:8::", kFails, kFails, kFails},
        {"::1:2:3:4:5:6:7:8", kFails, kFails, kFails},
        {"2001:db8::12345", kFails, kFails, kFails},
        {"2001:db8::g", kFails, kFails, kFails},
        {"fe80::1%eth0", kFails, kFails, kFails},
        {"[2001:db8::1]", kFails, kFails, kFails},
        {"2001:db8::/64", kFails, kFails, kFails},
        {"::ffff:203.0.113.07", kFails, kFails, kFails},
        {"::ffff:203.0.113", kFails, kFails, kFails},
        {"1.2.3.4::", kFails, kFails, kFails},
        {"::1.2.3.4:5", kFails, kFails, kFails},
        {"1:2:3:4:5:6:7:1.2.3.4", kFails, kFails, kFails},
        // What error pages and empty answers give.
        {"</html>", kFails, kFails, kFails},
        {"<p>203.0.113.7</p>", kFails, kFails, kFails},
        {"", kFails, kFails, kFails},
        {" \t ", kFails, kFails, kFails},
        {"Unknown", kFails, kFails, kFails},
        {"203.0.113.7\nsecond\n", kFails, kFails, kFails},
        {"203.0.113.7\r", kFails, kFails, kFails},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(ApplyAddressRule(AddressRule::Any, c.line), Expected(c.any)) << '"' << c.line;
        EXPECT_EQ(ApplyAddressRule(AddressRule::IPv4, c.line), Expected(c.v4)) << '"' << c.line;
        EXPECT_EQ(ApplyAddressRule(AddressRule::IPv6, c.line), Expected(c.v6)) << '"' << c.line;
        // The line as it stands when the rule is off.
        EXPECT_EQ(ApplyAddressRule(AddressRule::Off, c.line), std::string(c.line));
        // The written form is a fixed point: storing it and reading it back changes nothing.
        for (const AddressRule rule : {AddressRule::Any, AddressRule::IPv4, AddressRule::IPv6}) {
            if (const auto once = ApplyAddressRule(rule, c.line)) {
                EXPECT_EQ(ApplyAddressRule(rule, *once), once) << '"' << c.line;
            }
        }
    }
}

TEST(FormatIPv6, CompressesTheFirstLongestZeroRunOfAtLeastTwo) {
    struct Case {
        IPv6Bytes bytes;
        const char* text;
    } cases[] = {
        {{0x20, 0x01, 0x0d, 0xb8, 0, 0, 0, 1, 0, 0, 0, 0, 0, 0, 0, 1}, "2001:db8:0:1::1"},
        {{0x20, 0x01, 0x0d, 0xb8, 0, 0, 0, 0, 0, 1, 0, 0, 0, 0, 0, 1}, "2001:db8::1:0:0:1"},
        {{0, 0, 0, 0, 0, 1, 0, 0, 0, 0, 0, 0, 0, 1, 0, 0}, "0:0:1::1:0"},
        {{0, 1, 0, 0, 0, 1, 0, 0, 0, 1, 0, 0, 0, 1, 0, 0}, "1:0:1:0:1:0:1:0"},
        {{0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0xff, 0xff, 203, 0, 113, 7}, "::ffff:203.0.113.7"},
        {{0xab, 0xcd, 0x0a, 0xbc, 0, 0xab, 0, 0x0a, 0, 0, 0, 0, 0, 0, 0xff, 0xff},
         "abcd:abc:ab:a::ffff"},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(FormatIPv6(c.bytes), c.text);
        EXPECT_EQ(ParseIPv6(c.text), c.bytes) << c.text;
    }
}

TEST(AddressRuleFromSetting, OnlyEmptyAndZeroTurnTheCheckOff) {
    struct Case {
        const char* value;
        AddressRule rule;
    } cases[] = {
        {"", AddressRule::Off},   {"0", AddressRule::Off},   {" 0\t", AddressRule::Off},
        {"1", AddressRule::Any},  {"4", AddressRule::IPv4},  {" 4 ", AddressRule::IPv4},
        {"6", AddressRule::IPv6}, {"yes", AddressRule::Any}, {"46", AddressRule::Any},
        {"00", AddressRule::Any}, {"-1", AddressRule::Any},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(AddressRuleFromSetting(c.value), c.rule) << '"' << c.value;
    }
}
