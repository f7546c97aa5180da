// The subjectAltName extension read from its DER bytes: names come out exactly as encoded.
#include "mail/alt_names_der.h"

#include <gtest/gtest.h>

#include <string>

using namespace modSendEmail;
using namespace std::string_literals;

namespace {

std::string Tlv(char tag, const std::string& value) {
    std::string length;
    if (value.size() < 0x80) {
        length = std::string(1, char(value.size()));
    } else {
        length = "\x82"s + char(value.size() >> 8) + char(value.size() & 0xff);
    }
    return tag + length + value;
}

std::string Sequence(const std::string& entries) {
    return Tlv('\x30', entries);
}

} // namespace

TEST(AltNamesDer, NamesExactlyAsEncoded) {
    const std::string loopback("\x7f\0\0\x01", 4);
    const std::string entries = Tlv('\x81', "postmaster@mail.test") + // rfc822Name: skipped
                                Tlv('\x82', "mail.test") +
                                Tlv('\xa4', Sequence(Tlv('\x31', "x"))) + // directoryName
                                Tlv('\x87', loopback) + Tlv('\x82', "mail.test\0.attacker.test"s) +
                                Tlv('\x82', std::string(300, 'a'));
    CertificateNames names;
    names.commonNames = {"kept"};
    ASSERT_TRUE(ReadAltNames(Sequence(entries), names));
    EXPECT_EQ(names.dnsNames, (std::vector<std::string>{"mail.test", "mail.test\0.attacker.test"s,
                                                        std::string(300, 'a')}));
    EXPECT_EQ(names.ipAddresses, std::vector<std::string>{loopback});
    EXPECT_EQ(names.commonNames, std::vector<std::string>{"kept"});
    // The null-prefix name is read whole, so it matches nothing.
    EXPECT_FALSE(CertificateMatchesHost({{names.dnsNames[1]}, {}, {}}, "mail.test"));

    CertificateNames empty;
    EXPECT_TRUE(ReadAltNames(Sequence(""), empty));
    EXPECT_TRUE(empty.dnsNames.empty() && empty.ipAddresses.empty());
}

TEST(AltNamesDer, AnythingButOneWellFormedSequenceIsRefused) {
    const std::string name = Tlv('\x82', "mail.test");
    const std::string good = Sequence(name);
    for (const std::string& bad : {
             ""s, "\x30"s, Tlv('\x31', name), // a SET, not a SEQUENCE
             good + "\x00"s,                  // bytes after it
             good.substr(0, good.size() - 1), // cut short
             Sequence(name.substr(0, name.size() - 1)),
             "\x30\x80"s + name + "\x00\x00"s,       // indefinite length
             "\x30\x85\x00\x00\x00\x00\x0b"s + name, // a five-byte length
             Sequence("\x9f\x21\x01x"s),             // a multi-byte tag
             Sequence(name + "\x82"s),               // an entry without its length
         }) {
        CertificateNames names;
        EXPECT_FALSE(ReadAltNames(bad, names)) << testing::PrintToString(bad);
        EXPECT_TRUE(names.dnsNames.empty()) << testing::PrintToString(bad);
    }
}
