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
