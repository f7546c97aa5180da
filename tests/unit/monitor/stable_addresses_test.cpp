// The machine's stable addresses inside a /64, chosen from a fixed interface list, and the
// kernel's address list they are read with on Linux.
#include "monitor/stable_addresses.h"

#include <gtest/gtest.h>

using namespace modGetExternalIP;

namespace {

InterfaceIPv6 Address(const char* text, bool temporary = false, bool deprecated = false,
                      bool notReady = false) {
    return {*ParseIPv6(text), temporary, deprecated, notReady};
}

} // namespace

TEST(StableAddressesIn, OnlyReadyGlobalNonTemporaryAddressesOfThePrefix) {
    const std::vector<InterfaceIPv6> machine = {
        Address("2001:db8:1:2::20"),
        Address("2001:db8:1:2:a1b2:c3d4:e5f6:1234", true), // temporary
        Address("2001:db8:1:2::99", false, true),          // deprecated
        Address("2001:db8:1:2::77", false, false, true),   // tentative, or interface down
        Address("fe80::1:2"),                              // link-local
        Address("2001:db8:1:3::10"),                       // another /64
        Address("::1"),                                    // loopback
        Address("2001:DB8:1:2:0:0:0:10"),                  // stable, another spelling
        Address("2001:db8:1:2::20"),                       // on a second interface too
    };
    const std::vector<std::string> expected = {"2001:db8:1:2::10", "2001:db8:1:2::20"};
    EXPECT_EQ(StableAddressesIn("2001:db8:1:2::abcd", machine), expected);
    EXPECT_EQ(StableAddressesIn("2001:db8:1:2::/64", machine), expected);
    EXPECT_TRUE(StableAddressesIn("2001:db8:9:9::1", machine).empty());
    EXPECT_TRUE(StableAddressesIn("not an address", machine).empty());
}

TEST(ParseKernelIPv6List, ReadsTheFlagsAndSkipsLinesThatAreNoEntry) {
    const char* text = "20010db8000100020000000000000010 02 40 00 80     eth0\n"
                       "20010db80001000224a1b2fffec3d4e5 02 40 00 01     eth0\n"
                       "20010db8000100020000000000000099 02 40 00 a0 wlan0\n"
                       "00000000000000000000000000000001 01 80 10 80       lo\n"
                       "2001 02 40 00 80 eth0\n"
                       "20010db800010002000000000000zz10 02 40 00 80 eth0\n"
                       "20010db8000100020000000000000010 02 40 00 80\n";
    const std::vector<KernelIPv6Entry> entries = ParseKernelIPv6List(text);
    ASSERT_EQ(entries.size(), 4u);
    EXPECT_EQ(FormatIPv6(entries[0].address), "2001:db8:1:2::10");
    EXPECT_EQ(entries[0].interfaceName, "eth0");
    EXPECT_EQ(entries[0].flags, 0x80u);
    EXPECT_EQ(entries[1].flags & kKernelTemporary, kKernelTemporary);
    EXPECT_EQ(entries[2].flags & kKernelDeprecated, kKernelDeprecated);
    EXPECT_EQ(entries[2].interfaceName, "wlan0");
    EXPECT_EQ(FormatIPv6(entries[3].address), "::1");
}
