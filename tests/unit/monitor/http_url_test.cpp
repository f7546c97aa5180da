// Page addresses and the redirect rule.
#include "monitor/http_url.h"

#include <gtest/gtest.h>

using http::ParseUrl;
using http::RedirectChain;
using Verdict = RedirectChain::Verdict;

TEST(ParseUrl, TakesHttpAndHttpsOnly) {
    const auto plain = ParseUrl("HTTP://Example.test?x=1#frag");
    ASSERT_TRUE(plain);
    EXPECT_FALSE(plain->secure);
    EXPECT_EQ(plain->host, "Example.test");
    EXPECT_EQ(plain->port, 80);
    EXPECT_EQ(plain->target, "/?x=1");

    const auto secure = ParseUrl("https://[::1]:8443/a/b");
    ASSERT_TRUE(secure);
    EXPECT_TRUE(secure->secure);
    EXPECT_EQ(secure->host, "::1");
    EXPECT_EQ(secure->authority, "[::1]:8443");
    EXPECT_EQ(secure->port, 8443);
    EXPECT_EQ(secure->target, "/a/b");
    EXPECT_EQ(ParseUrl("https://h.test")->port, 443);

    for (const char* bad :
         {"ftp://h/", "file:///etc/hostname", "http://", "http://u@h/", "http://h:0/",
          "http://h:65536/", "http://h:8x/", "http://h x/", "http://[::1/", " ", "nonsense"}) {
        EXPECT_FALSE(ParseUrl(bad)) << bad;
    }
}

TEST(RedirectChain, ResolvesLocationsAgainstTheCurrentPage) {
    struct Case {
        const char* location;
        const char* next; // nullptr: refused
    } cases[] = {
        {"https://other.test:444/x", "https://other.test:444/x"},
        {"//other.test/x", "http://other.test/x"},
        {"/top?q", "http://page.test:81/top?q"},
        {"sibling", "http://page.test:81/dir/sibling"},
        {"?other", "http://page.test:81/dir/page?other"},
        {"file:///etc/hostname", nullptr},
        {"ftp://page.test/", nullptr},
        {"javascript:alert(1)", nullptr},
    };
    for (const auto& c : cases) {
        RedirectChain chain(*ParseUrl("http://page.test:81/dir/page?q=1"));
        const Verdict verdict = chain.Redirect(c.location);
        if (c.next == nullptr) {
            EXPECT_EQ(verdict, Verdict::Refused) << c.location;
        } else {
            EXPECT_EQ(verdict, Verdict::Follow) << c.location;
            EXPECT_EQ(http::ToText(chain.Current()), c.next) << c.location;
        }
    }
}

TEST(RedirectChain, FollowsFiveInARow) {
    RedirectChain chain(*ParseUrl("http://page.test/"));
    for (int i = 0; i < http::kMaxRedirects; ++i) {
        EXPECT_EQ(chain.Redirect(i % 2 ? "https://page.test/s" : "/p"), Verdict::Follow);
    }
    EXPECT_EQ(chain.Redirect("/p"), Verdict::TooMany);
}

TEST(RedirectChain, AChainThatMustStaySecureRefusesPlainHttp) {
    RedirectChain strict(*ParseUrl("https://hb.test/ping"), true);
    EXPECT_EQ(strict.Redirect("http://hb.test/ping"), Verdict::Refused);
    EXPECT_EQ(strict.Redirect("https://other.test/ping"), Verdict::Follow);
    // A plain page may still go up to https; only the way down is closed.
    RedirectChain plain(*ParseUrl("http://hb.test/ping"), true);
    EXPECT_EQ(plain.Redirect("https://hb.test/ping"), Verdict::Follow);
    EXPECT_EQ(plain.Redirect("http://hb.test/ping"), Verdict::Refused);
    RedirectChain shared(*ParseUrl("https://page.test/"));
    EXPECT_EQ(shared.Redirect("http://page.test/"), Verdict::Follow);
}
