// The certificate host-name rule both TLS backends share, as one table.
#include "mail/host_name_match.h"

#include <gtest/gtest.h>

using namespace modSendEmail;

namespace {

const std::string kLoopback("\x7f\0\0\x01", 4);
const std::string kV6Loopback = std::string(15, '\0') + '\x01';

} // namespace

TEST(HostNameMatch, AddressLiterals) {
    struct Case {
        const char* text;
        std::string bytes; // empty: not an address literal
    } cases[] = {
        {"127.0.0.1", kLoopback},
        {"255.255.255.255", "\xff\xff\xff\xff"},
        {"::1", kV6Loopback},
        {"0:0:0:0:0:0:0:1", kV6Loopback},
        {"::", std::string(16, '\0')},
        {"::ffff:127.0.0.1", std::string(10, '\0') + "\xff\xff" + kLoopback},
        {"2001:DB8::8:800:200c:417a",
         std::string("\x20\x01\x0d\xb8\0\0\0\0\0\x08\x08\0\x20\x0c\x41\x7a", 16)},
        {"127.0.0.01", ""},
        {"127.0.0", ""},
        {"127.0.0.1.", ""},
        {"256.0.0.1", ""},
        {"1:2:3:4:5:6:7", ""},
        {"1::2::3", ""},
        {":1", ""},
        {"1:", ""},
        {"12345::", ""},
        {"1:2:3:4:5:6:7:8::", ""},
        {"localhost", ""},
        {"", ""},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(ParseAddressLiteral(c.text), c.bytes) << c.text;
    }
}

TEST(HostNameMatch, TheRuleOfEveryBackend) {
    struct Case {
        const char* host;
        CertificateNames names;
        bool matches;
    } cases[] = {
        // An address literal: iPAddress names only, never a DNS name or the common name.
        {"127.0.0.1", {{}, {kLoopback}, {}}, true},
        {"127.0.0.1", {{"localhost"}, {kLoopback}, {"other"}}, true},
        {"127.0.0.1", {{}, {}, {"127.0.0.1"}}, false},
        {"127.0.0.1", {{"127.0.0.1"}, {}, {}}, false},
        {"127.0.0.1", {{}, {std::string("\x7f\0\0\x02", 4)}, {}}, false},
        {"::1", {{}, {kV6Loopback}, {}}, true},
        {"::1", {{}, {kLoopback}, {}}, false},
        // A DNS name: dNSName entries, case-insensitive.
        {"localhost", {{"localhost"}, {kLoopback}, {}}, true},
        {"Mail.Example.COM", {{"other.test", "mail.example.com"}, {}, {}}, true},
        {"mail.example.com", {{"mail.example.co"}, {}, {}}, false},
        {"mail.example.com", {{"mail.example.com."}, {}, {}}, false},
        // The common name only when there is no dNSName.
        {"localhost", {{}, {}, {"localhost"}}, true},
        {"localhost", {{}, {kLoopback}, {"localhost"}}, true},
        {"localhost", {{"other.test"}, {}, {"localhost"}}, false},
        {"mail.example.com", {{}, {}, {"x", "mail.example.com"}}, true},
        // "*" is one whole, non-empty first label below at least two labels.
        {"mail.example.com", {{"*.example.com"}, {}, {}}, true},
        {"mail.example.com", {{}, {}, {"*.example.com"}}, true},
        {"a-b.example.com", {{"*.EXAMPLE.com"}, {}, {}}, true},
        {"example.com", {{"*.example.com"}, {}, {}}, false},
        {".example.com", {{"*.example.com"}, {}, {}}, false},
        {"a.b.example.com", {{"*.example.com"}, {}, {}}, false},
        {"a_b.example.com", {{"*.example.com"}, {}, {}}, false},
        {"example.com", {{"*.com"}, {}, {}}, false},
        {"mail.example.com", {{"m*.example.com"}, {}, {}}, false},
        {"mail.example.com", {{"*ail.example.com"}, {}, {}}, false},
        {"mail.example.com", {{"mail.*.com"}, {}, {}}, false},
        {"mail.example.com", {{"*.*.com"}, {}, {}}, false},
        // A name with a NUL inside never matches, nor does an empty one.
        {"mail.example.com", {{std::string("mail.example.com\0.evil.test", 27)}, {}, {}}, false},
        {"", {{""}, {}, {""}}, false},
        {"mail.example.com", {}, false},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(CertificateMatchesHost(c.names, c.host), c.matches)
            << c.host << " / " << (c.names.dnsNames.empty() ? "" : c.names.dnsNames.front());
    }
}

// Names as a system decoder hands them over: one NUL at the end may be the decoder's terminator;
// any other NUL is in the certificate, and such a name is for no host.
TEST(HostNameMatch, ANulInADecodedNameIsDroppedOnlyAtTheEnd) {
    using namespace std::string_literals;
    struct Case {
        std::string decoded;
        bool matches; // as the common name of a certificate without dNSName, for "localhost"
    } cases[] = {
        {"localhost", true},
        {"localhost\0"s, true},
        {"localhost\0\0"s, false},
        {"localhost\0.attacker.test"s, false},
        {"localhost\0.attacker.test\0"s, false},
        {"\0localhost"s, false},
        {"local\0host"s, false},
        {"\0"s, false},
        {"", false},
    };
    for (const Case& c : cases) {
        const std::string name = DecodedName(c.decoded);
        EXPECT_EQ(CertificateMatchesHost({{}, {}, {name}}, "localhost"), c.matches)
            << testing::PrintToString(c.decoded);
        EXPECT_EQ(CertificateMatchesHost({{name}, {}, {}}, "localhost"), c.matches)
            << testing::PrintToString(c.decoded);
    }
}
