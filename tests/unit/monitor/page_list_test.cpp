#include "monitor/page_list.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

using modGetExternalIP::SplitPageList;

TEST(SplitPageList, PagesAreTheRunsBetweenBlanks) {
    using Pages = std::vector<std::string>;
    struct Case {
        const char* value;
        Pages pages;
    } cases[] = {
        {"", {}},
        {" \t  ", {}},
        {"http://a/ip", {"http://a/ip"}},
        {"  http://a/ip\t", {"http://a/ip"}},
        {"http://a/ip http://b/ip", {"http://a/ip", "http://b/ip"}},
        {"http://a/ip\t \thttps://b/ip  http://c/", {"http://a/ip", "https://b/ip", "http://c/"}},
        {"http://a/ip http://a/ip", {"http://a/ip", "http://a/ip"}},
        {"http://a/?q=1,2;x", {"http://a/?q=1,2;x"}},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(SplitPageList(c.value), c.pages) << '"' << c.value;
    }
}

TEST(ReadPageList, AnEntryThatReachesTheReadLimitIsSetAside) {
    using Pages = std::vector<std::string>;
    struct Case {
        const char* value;
        Pages pages;
        const char* cut;
    } cases[] = {
        // Limit 12 below.
        {"http://a/ip", {"http://a/ip"}, ""},
        {"http://a/ip ", {"http://a/ip"}, ""},
        {"http://a/ipx", {}, "http://a/ipx"},
        {"http://a/ httpx", {"http://a/"}, "httpx"},
        {"http://a/ h\t", {"http://a/", "h"}, ""},
        {"http://a/   ", {"http://a/"}, ""},
        {"            ", {}, ""},
        {"", {}, ""},
    };
    for (const auto& c : cases) {
        const auto list = modGetExternalIP::ReadPageList(c.value, 12);
        EXPECT_EQ(list.pages, c.pages) << '"' << c.value;
        EXPECT_EQ(list.cut, c.cut) << '"' << c.value;
    }
}
