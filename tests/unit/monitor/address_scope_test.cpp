// Which addresses are public, at the edges of every range; and the rule for the connections of
// one page download.
#include "monitor/address_scope.h"

#include <gtest/gtest.h>

#include <optional>
#include <vector>

using namespace modGetExternalIP;

TEST(ScopeOfText, EachRangeAtItsEdges) {
    using S = AddressScope;
    struct Case {
        const char* text;
        std::optional<S> scope;
    } cases[] = {
        {"0.0.0.0", S::Unspecified},
        {"0.255.255.255", S::Unspecified},
        {"1.0.0.0", S::Public},
        {"9.255.255.255", S::Public},
        {"10.0.0.1", S::Private},
        {"10.255.255.255", S::Private},
        {"11.0.0.0", S::Public},
        {"100.63.255.255", S::Public},
        {"100.64.0.0", S::Shared},
        {"100.127.255.255", S::Shared},
        {"100.128.0.0", S::Public},
        {"126.255.255.255", S::Public},
        {"127.0.0.1", S::Loopback},
        {"127.255.255.254", S::Loopback},
        {"128.0.0.0", S::Public},
        {"169.253.255.255", S::Public},
        {"169.254.169.254", S::LinkLocal},
        {"169.255.0.0", S::Public},
        {"172.15.255.255", S::Public},
        {"172.16.0.0", S::Private},
        {"172.31.255.255", S::Private},
        {"172.32.0.0", S::Public},
        {"192.167.255.255", S::Public},
        {"192.168.1.1", S::Private},
        {"192.169.0.0", S::Public},
        // The documentation ranges stand for public addresses.
        {"192.0.2.1", S::Public},
        {"198.51.100.10", S::Public},
        {"203.0.113.7", S::Public},
        {"223.255.255.255", S::Public},
        {"224.0.0.1", S::Multicast},
        {"239.255.255.255", S::Multicast},
        {"240.0.0.1", S::Public},
        {"255.255.255.254", S::Public},
        {"255.255.255.255", S::Broadcast},
        {"::", S::Unspecified},
        {"::1", S::Loopback},
        {"::2", S::Public},
        {"2001:db8::1", S::Public},
        {"2606:4700::1111", S::Public},
        {"fbff:ffff::1", S::Public},
        {"fc00::1", S::Private},
        {"fdff:ffff::1", S::Private},
        {"fe00::1", S::Public},
        {"fe7f::1", S::Public},
        {"fe80::1", S::LinkLocal},
        {"febf:ffff::1", S::LinkLocal},
        {"fec0::1", S::Public},
        {"ff02::1", S::Multicast},
        // Mapped addresses are the IPv4 addresses they carry.
        {"::ffff:127.0.0.1", S::Loopback},
        {"::ffff:10.1.2.3", S::Private},
        {"::ffff:0.0.0.0", S::Unspecified},
        {"::ffff:203.0.113.7", S::Public},
        // As connection reports write them.
        {"[::1]", S::Loopback},
        {"fe80::1%eth0", S::LinkLocal},
        {"[fe80::1%25eth0]", S::LinkLocal},
        {"localhost", std::nullopt},
        {"", std::nullopt},
        {"127.0.0.1:80", std::nullopt},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(ScopeOfText(c.text), c.scope) << c.text;
    }
}

TEST(ConnectionRule, OnlyAPageInsideMayLeadInside) {
    using S = AddressScope;
    struct Case {
        const char* what;
        std::vector<S> hops;
        std::vector<bool> admitted;
    } cases[] = {
        {"public page, public redirect", {S::Public, S::Public}, {true, true}},
        {"public page to loopback", {S::Public, S::Loopback}, {true, false}},
        {"public page to the LAN", {S::Public, S::Private}, {true, false}},
        {"public page to shared space", {S::Public, S::Shared}, {true, false}},
        {"public page to link-local", {S::Public, S::LinkLocal}, {true, false}},
        {"public page to multicast", {S::Public, S::Multicast}, {true, false}},
        {"public page to 0.0.0.0", {S::Public, S::Unspecified}, {true, false}},
        {"public, public, then loopback", {S::Public, S::Public, S::Loopback}, {true, true, false}},
        {"loopback page within loopback", {S::Loopback, S::Loopback}, {true, true}},
        {"LAN page to loopback and out", {S::Private, S::Loopback, S::Public}, {true, true, true}},
        {"LAN page out and back", {S::Private, S::Public, S::Private}, {true, true, true}},
        {"a lone internal page", {S::LinkLocal}, {true}},
    };
    for (const auto& c : cases) {
        ConnectionRule rule;
        std::vector<bool> admitted;
        for (const S hop : c.hops) {
            admitted.push_back(rule.Admit(hop));
        }
        EXPECT_EQ(admitted, c.admitted) << c.what;
    }

    // What does not read as an address is taken as public.
    ConnectionRule unreadable;
    EXPECT_TRUE(unreadable.AdmitText("proxy-only.example"));
    EXPECT_FALSE(unreadable.AdmitText("127.0.0.1"));
    ConnectionRule reported;
    EXPECT_TRUE(reported.AdmitText("198.51.100.10"));
    EXPECT_FALSE(reported.AdmitText("[::ffff:192.168.0.1]"));
}
