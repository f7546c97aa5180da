// One family's stored values in a run: the at-least-once rules, IPv6 by prefix or by address,
// and the notice lines of a run that watches both families.
#include "monitor/dual_stack_notice.h"
#include "monitor/family_plan.h"

#include <gtest/gtest.h>

#include <optional>
#include <string>

using namespace modGetExternalIP;

TEST(PlanFamily, NoticeOwedOnceAndMarksKeptOrDropped) {
    const std::optional<std::string> none;
    struct Case {
        const char* what;
        std::optional<std::string> current;
        StoredPair stored;
        CompareBy by;
        bool owed, writePending, writeLast, clearPending;
    } cases[] = {
        {"lookup failed",
         none,
         {"203.0.113.7", "198.51.100.1"},
         CompareBy::Text,
         false,
         false,
         false,
         false},
        {"first run", "203.0.113.7", {"", ""}, CompareBy::Text, true, true, true, false},
        {"unchanged",
         "203.0.113.7",
         {"203.0.113.7", ""},
         CompareBy::Text,
         false,
         false,
         false,
         false},
        {"changed", "198.51.100.1", {"203.0.113.7", ""}, CompareBy::Text, true, true, true, false},
        {"owed from a stopped run",
         "198.51.100.1",
         {"198.51.100.1", "198.51.100.1"},
         CompareBy::Text,
         true,
         false,
         false,
         false},
        {"went back before its notice",
         "203.0.113.7",
         {"203.0.113.7", "198.51.100.1"},
         CompareBy::Text,
         false,
         false,
         false,
         true},
        {"same /64, new address",
         "2001:db8:1:2::abcd",
         {"2001:db8:1:2::1", ""},
         CompareBy::Prefix64,
         false,
         false,
         true,
         false},
        {"new /64",
         "2001:db8:1:3::1",
         {"2001:db8:1:2::1", ""},
         CompareBy::Prefix64,
         true,
         true,
         true,
         false},
        {"owed /64, address moved on inside it",
         "2001:db8:1:3::2",
         {"2001:db8:1:3::1", "2001:db8:1:3::1"},
         CompareBy::Prefix64,
         true,
         false,
         true,
         false},
        {"stored value that is no address",
         "2001:db8:1:2::1",
         {"Unknown", ""},
         CompareBy::Prefix64,
         true,
         true,
         true,
         false},
        {"by address, same /64",
         "2001:db8:1:2::abcd",
         {"2001:db8:1:2::1", ""},
         CompareBy::Text,
         true,
         true,
         true,
         false},
    };
    for (const Case& c : cases) {
        const FamilyPlan plan = PlanFamily(c.current, c.stored, c.by);
        EXPECT_EQ(plan.owed, c.owed) << c.what;
        EXPECT_EQ(plan.writePending, c.writePending) << c.what;
        EXPECT_EQ(plan.writeLast, c.writeLast) << c.what;
        EXPECT_EQ(plan.clearPending, c.clearPending) << c.what;
    }
}

TEST(IPv6CompareFromSetting, PrefixUnlessAddressAndOtherValuesAreFlagged) {
    struct Case {
        const char* value;
        IPv6Compare compare;
        bool recognised;
    } cases[] = {
        {"", IPv6Compare::Prefix, true},
        {"prefix", IPv6Compare::Prefix, true},
        {" Address\t", IPv6Compare::Address, true},
        {"addr", IPv6Compare::Prefix, false},
        {"1", IPv6Compare::Prefix, false},
    };
    for (const Case& c : cases) {
        const IPv6CompareSetting s = IPv6CompareFromSetting(c.value);
        EXPECT_EQ(s.compare, c.compare) << c.value;
        EXPECT_EQ(s.recognised, c.recognised) << c.value;
    }
}

TEST(Prefix64Of, AnySpellingGivesTheCanonicalPrefix) {
    EXPECT_EQ(Prefix64Of("2001:DB8:1:2:0:0:0:ABCD"), "2001:db8:1:2::/64");
    EXPECT_EQ(Prefix64Of("2001:db8::1"), "2001:db8::/64");
    EXPECT_EQ(Prefix64Of("2001:db8:0:0:1::"), "2001:db8::/64");
    EXPECT_EQ(Prefix64Of("203.0.113.7"), std::nullopt);
    EXPECT_EQ(Prefix64Of(""), std::nullopt);
}

TEST(DualStackNoticeLines, EachFamilyNewUnchangedOrNotFound) {
    const NoticeFamily v4New{"203.0.113.7", "", true};
    const NoticeFamily v4Same{"203.0.113.7", "", false};
    const NoticeFamily v6New{"2001:db8:1:2::abcd", "", true};
    const NoticeFamily v6Same{"2001:db8:1:2::abcd", "", false};
    const NoticeFamily v6Failed{std::nullopt, "cannot connect", false};
    struct Case {
        NoticeFamily v4, v6;
        std::vector<std::string> reachable;
        std::string lines;
    } cases[] = {
        {v4Same,
         v6New,
         {"2001:db8:1:2::10", "2001:db8:1:2::20"},
         "WAN IP:  203.0.113.7 (unchanged)\r\n"
         "New WAN IPv6 Detected:  2001:db8:1:2::abcd\r\n"
         "IPv6 prefix:  2001:db8:1:2::/64\r\n"
         "Reachable at:  2001:db8:1:2::10, 2001:db8:1:2::20"},
        {v4New,
         v6Same,
         {},
         "New WAN IP Detected:  203.0.113.7\r\n"
         "WAN IPv6:  2001:db8:1:2::abcd (unchanged)\r\n"
         "IPv6 prefix:  2001:db8:1:2::/64\r\n"
         "Reachable at:  none found on this machine"},
        {v4New,
         v6Failed,
         {},
         "New WAN IP Detected:  203.0.113.7\r\nWAN IPv6:  not found (cannot connect)"},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(DualStackNoticeLines(c.v4, c.v6, c.reachable), c.lines);
    }
}
