// The WAN address lookup: the last-line rule, the page choice, the list of pages with and
// without the address rule, and the bounded download against a loopback page (the platform's
// own downloader on Windows, libcurl on POSIX).
#include "common/file_checks.h"
#include "monitor/page_download.h"
#include "monitor/wan_ip.h"
#include "settings/app_settings.h"
#include "support/debug_capture.h"
#include "support/loopback_http_server.h"
#include "support/temp_folder.h"

#include <gtest/gtest.h>

#include <chrono>
#include <fstream>
#include <string>
#include <vector>

using namespace modGetExternalIP;
using testing_support::LoopbackHttpServer;

namespace {

std::string WanIpFile() {
    return CommonModule::AppPath() + kWanIpFileName;
}

// Points sAppINI at a settings file of the test's own for as long as it lives.
class SettingsFile {
public:
    explicit SettingsFile(const std::string& text) : saved_(CommonModule::sAppINI) {
        folder_.Write("addrwatch.ini", text);
        CommonModule::sAppINI = folder_.File("addrwatch.ini");
    }
    ~SettingsFile() { CommonModule::sAppINI = saved_; }
    SettingsFile(const SettingsFile&) = delete;
    SettingsFile& operator=(const SettingsFile&) = delete;

private:
    testing_support::TempFolder folder_;
    std::string saved_;
};

std::string RefusedUrl() {
    LoopbackHttpServer gone;
    return gone.Url();
}

std::vector<std::string> ReasonsOf(const WanIPLookup& lookup) {
    std::vector<std::string> reasons;
    for (const FailedPage& f : lookup.failed) {
        reasons.push_back(f.reason);
    }
    return reasons;
}

} // namespace

TEST(LastLineOf, LineEndsAreCrOrCrLfOnly) {
    struct Case {
        const char* text;
        const char* last;
    } cases[] = {
        {"", ""},
        {"1.2.3.4", "1.2.3.4"},
        {"1.2.3.4\r\n", "1.2.3.4"},
        {"1.2.3.4\r", "1.2.3.4"},
        {"first\r\nsecond\rthird", "third"},
        {"1.2.3.4\r\n\r\n", ""},
        {"a\nb\n", "a\nb\n"},
        {"a\n\rb", "b"},
        {"a\r\n\nb", "\nb"},
        {"\r\n", ""},
        {" 1.2.3.4 \r\n", " 1.2.3.4 "},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(LastLineOf(c.text), c.last) << "text: " << c.text;
    }
}

TEST(WanIPPageAddress, OnlyTheEmptyTextFallsBackToTheBuiltInPage) {
    struct Case {
        const char* ini;
        std::string page;
    } cases[] = {
        {"[General]\r\nTaskTime=10:00\r\n", kDefaultIpCheckPage},
        {"[General]\r\nWhatIsMyIP=\r\n", kDefaultIpCheckPage},
        {"", kDefaultIpCheckPage},
        {"[General]\r\nWhatIsMyIP=\" \"\r\n", " "},
        {"[general]\r\nwhatismyip=http://127.0.0.1:9/x\r\n", "http://127.0.0.1:9/x"},
        {"[EmailConfig]\r\nWhatIsMyIP=http://elsewhere/\r\n", kDefaultIpCheckPage},
    };
    for (const auto& c : cases) {
        SettingsFile settings(c.ini);
        EXPECT_EQ(WanIPPageAddress(), c.page) << c.ini;
    }
}

TEST(LookupWanIP, AnswersBecomeTheLastLineOrUnknownAndTheFileIsGone) {
    LoopbackHttpServer page;
    struct Case {
        std::string body;
        std::string result;
    } cases[] = {
        {"203.0.113.7\r\n", "203.0.113.7"},
        {"203.0.113.7", "203.0.113.7"},
        {"header\r\n198.51.100.1\r\n203.0.113.7\r\n", "203.0.113.7"},
        {"203.0.113.7\r\n\r\n", kUnknownAddress},
        {"203.0.113.7\nsecond\n", "203.0.113.7\nsecond\n"},
        {"<html>\r\n<body>Busy</body>\r\n</html>", "</html>"},
        {"", kUnknownAddress},
    };
    for (const auto& c : cases) {
        page.RespondText(c.body);
        EXPECT_EQ(LookupWanIP(page.Url(), true), c.result) << "body: " << c.body;
        EXPECT_FALSE(CommonModule::DoesFileExist(WanIpFile()));
    }
}

TEST(LookupWanIP, ChunkedAndCloseDelimitedAnswersArriveWhole) {
    LoopbackHttpServer page;
    for (const std::string response : {
             "HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\nConnection: close\r\n\r\n"
             "5\r\n203.0\r\n8;x=y\r\n.113.7\r\n\r\n0\r\n\r\n",
             "HTTP/1.0 200 OK\r\nContent-Type: text/plain\r\n\r\nx\r\n203.0.113.7\r\n",
         }) {
        page.Respond(LoopbackHttpServer::Mode::Reply, response);
        EXPECT_EQ(LookupWanIP(page.Url(), true), "203.0.113.7") << response;
    }
}

TEST(LookupWanIP, FailedFetchesAreUnknownAndLeaveNoFile) {
    std::string refused;
    {
        LoopbackHttpServer gone;
        refused = gone.Url();
    }
    for (const std::string& url : {refused, std::string(" "), std::string("nonsense")}) {
        // A file left by an earlier, interrupted lookup is not taken for the answer.
        std::ofstream(WanIpFile(), std::ios::binary) << "stale\r\n";
        EXPECT_EQ(LookupWanIP(url, true), kUnknownAddress) << url;
        EXPECT_FALSE(CommonModule::DoesFileExist(WanIpFile()));
    }
}

TEST(LookupWanIPPages, TheFirstUsablePageWinsAndLaterOnesAreNotAsked) {
    const std::string refused = RefusedUrl();
    LoopbackHttpServer empty, html, v4, v6, failing, spare, inside;
    empty.RespondText("");
    inside.RespondText("::ffff:10.0.0.1\r\n");
    failing.Respond(LoopbackHttpServer::Mode::Reply,
                    "HTTP/1.1 500 Internal Server Error\r\nContent-Length: 13\r\n"
                    "Connection: close\r\n\r\n198.51.100.1\n");
    html.RespondText("<html>\r\n<body>Service busy</body>\r\n</html>");
    v4.RespondText(" 203.0.113.7\t\r\n");
    v6.RespondText("2001:DB8:0:0::1\n");
    using Reasons = std::vector<std::string>;
    struct Case {
        AddressRule rule;
        std::vector<std::string> pages;
        std::optional<std::string> address;
        Reasons reasons;
    } cases[] = {
        {AddressRule::Off,
         {refused, empty.Url(), html.Url(), spare.Url()},
         "</html>",
         {"cannot connect", "empty answer"}},
        {AddressRule::Off, {v4.Url(), spare.Url()}, " 203.0.113.7\t", {}},
        // Without the rule an error page is read as any answer.
        {AddressRule::Off, {failing.Url(), spare.Url()}, "198.51.100.1\n", {}},
        {AddressRule::Any, {failing.Url(), v6.Url()}, "2001:db8::1", {"HTTP status 500"}},
        {AddressRule::Off,
         {refused, empty.Url()},
         std::nullopt,
         {"cannot connect", "empty answer"}},
        {AddressRule::Off, {}, std::nullopt, {}},
        {AddressRule::Any,
         {refused, html.Url(), empty.Url(), v4.Url(), spare.Url()},
         "203.0.113.7",
         {"cannot connect", "not an address", "not an address"}},
        {AddressRule::IPv6, {v4.Url(), v6.Url(), spare.Url()}, "2001:db8::1", {"not an address"}},
        // An address from inside the network is not the WAN side; without the rule it is taken.
        {AddressRule::Any,
         {inside.Url(), v4.Url(), spare.Url()},
         "203.0.113.7",
         {"not a WAN address: private 10.0.0.1"}},
        {AddressRule::Off, {inside.Url(), spare.Url()}, "::ffff:10.0.0.1", {}},
        {AddressRule::IPv4,
         {v6.Url(), html.Url()},
         std::nullopt,
         {"not an address", "not an address"}},
    };
    for (const auto& c : cases) {
        const WanIPLookup lookup = LookupWanIPPages(c.pages, c.rule, true);
        EXPECT_EQ(lookup.address, c.address) << c.pages.size() << " pages";
        EXPECT_EQ(ReasonsOf(lookup), c.reasons) << c.pages.size() << " pages";
        EXPECT_EQ(spare.Requests(), 0);
        EXPECT_FALSE(CommonModule::DoesFileExist(WanIpFile()));
    }
}

TEST(LookupWanIPPages, TheWholeLookupEndsByItsTotalBound) {
    LoopbackHttpServer first, second, good;
    first.Respond(LoopbackHttpServer::Mode::Stall, "");
    second.Respond(LoopbackHttpServer::Mode::Stall, "");
    good.RespondText("203.0.113.7\r\n");
    const LookupBounds bounds{{std::chrono::milliseconds(1000), 1024},
                              std::chrono::milliseconds(1500)};
    const auto start = std::chrono::steady_clock::now();
    const WanIPLookup lookup =
        LookupWanIPPages({first.Url(), second.Url(), good.Url()}, AddressRule::Any, true, bounds);
    // Generous: only shows that the bounds, not the servers, ended the lookup.
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(20));
    EXPECT_EQ(lookup.address, std::nullopt);
    ASSERT_EQ(lookup.failed.size(), 3u);
    EXPECT_EQ(second.Requests(), 1) << "the time left was enough to ask the second page";
    EXPECT_EQ(lookup.failed[2].reason, "not asked: the lookup's time bound passed");
    EXPECT_EQ(good.Requests(), 0);
}

TEST(GetWanIP, WithTheRuleOnAFailedLookupGivesNothingAndOneMessage) {
    const std::string refused = RefusedUrl();
    LoopbackHttpServer html, v6;
    html.RespondText("<html>\r\n<body>Service busy</body>\r\n</html>");
    v6.RespondText("2001:DB8::1\r\n");
    const std::string pages = refused + " \t" + html.Url();
    // The read keeps 254 characters: the second page's address is cut inside its query.
    LoopbackHttpServer beyond;
    beyond.RespondText("203.0.113.7\r\n");
    const std::string longList = refused + " " + beyond.Url() + "?pad=" + std::string(300, 'p');
    const std::string cutEntry = longList.substr(refused.size() + 1, 254 - refused.size() - 1);
    struct Case {
        std::string ini;
        std::optional<std::string> address;
        std::vector<std::string> messages;
    } cases[] = {
        {"WhatIsMyIP=" + pages, "</html>", {}},
        {"WhatIsMyIP=" + refused + " " + refused, kUnknownAddress, {}},
        {"WhatIsMyIP=\" \t \"", kUnknownAddress, {}},
        {"WhatIsMyIP=" + pages + " " + v6.Url() + "\r\nValidateAddress=6", "2001:db8::1", {}},
        {"WhatIsMyIP=" + pages + "\r\nValidateAddress=1",
         std::nullopt,
         {"\tmodGetExternalIP\\GetWanIP: no check page gave an address, nothing changed: " +
          refused + " (cannot connect); " + html.Url() + " (not an address)"}},
        {"WhatIsMyIP=" + longList + "\r\nValidateAddress=1",
         std::nullopt,
         {"\tmodGetExternalIP\\GetWanIP: WhatIsMyIP fills the 254 characters a setting is read "
          "with, so its last entry may be cut; not asked: " +
              cutEntry,
          "\tmodGetExternalIP\\GetWanIP: no check page gave an address, nothing changed: " +
              refused + " (cannot connect)"}},
        {"WhatIsMyIP=\" \"\r\nValidateAddress=4",
         std::nullopt,
         {"\tmodGetExternalIP\\GetWanIP: no check page gave an address, nothing changed: no "
          "page listed"}},
    };
    for (const auto& c : cases) {
        SettingsFile settings("[General]\r\n" + c.ini + "\r\n");
        testing_support::DebugCapture capture;
        EXPECT_EQ(GetWanIP(), c.address) << c.ini;
        EXPECT_EQ(capture.Messages(), c.messages) << c.ini;
    }
    EXPECT_EQ(beyond.Requests(), 0) << "the cut address is not asked";
}

TEST(DownloadPageToFile, BoundsAndRedirectsFailWithoutAFile) {
    testing_support::TempFolder folder;
    const std::string target = folder.File("WAN.IP");
    const platform::DownloadBounds shortBounds{std::chrono::milliseconds(1500), 1024};
    LoopbackHttpServer page;

    page.RespondText(std::string(1024, 'a'));
    EXPECT_TRUE(platform::DownloadPageToFile(page.Url(), target, shortBounds).complete);
    EXPECT_EQ(folder.Read("WAN.IP"), std::string(1024, 'a'));

    using platform::DownloadFailure;
    struct Case {
        const char* name;
        LoopbackHttpServer::Mode mode;
        std::string response;
        DownloadFailure failure;
    } cases[] = {
        {"declared too long", LoopbackHttpServer::Mode::Reply,
         "HTTP/1.1 200 OK\r\nContent-Length: 1025\r\nConnection: close\r\n\r\n" +
             std::string(1025, 'a'),
         DownloadFailure::TooLarge},
        {"undeclared too long", LoopbackHttpServer::Mode::Reply,
         "HTTP/1.1 200 OK\r\nConnection: close\r\n\r\n" + std::string(1025, 'a'),
         DownloadFailure::TooLarge},
        {"shorter than declared", LoopbackHttpServer::Mode::Reply,
         "HTTP/1.1 200 OK\r\nContent-Length: 20\r\nConnection: close\r\n\r\n203.0.113.7\r\n",
         DownloadFailure::Truncated},
        {"endless body", LoopbackHttpServer::Mode::Flood, "HTTP/1.1 200 OK\r\n\r\n",
         DownloadFailure::TooLarge},
        {"redirect loop", LoopbackHttpServer::Mode::Reply,
         "HTTP/1.1 302 Found\r\nLocation: " + page.Url() +
             "\r\nContent-Length: 0\r\nConnection: close\r\n\r\n",
         DownloadFailure::TooManyRedirects},
        {"redirect to file:", LoopbackHttpServer::Mode::Reply,
         "HTTP/1.1 302 Found\r\nLocation: file:///etc/hostname\r\nContent-Length: "
         "0\r\nConnection: close\r\n\r\n",
         DownloadFailure::BadRedirect},
        // Last: the server holds this connection until it is destroyed.
        {"stalled", LoopbackHttpServer::Mode::Stall, "", DownloadFailure::TimedOut},
    };
    for (const auto& c : cases) {
        page.Respond(c.mode, c.response);
        const int asked = page.Requests();
        const auto start = std::chrono::steady_clock::now();
        const auto result = platform::DownloadPageToFile(page.Url(), target, shortBounds);
        EXPECT_FALSE(result.complete) << c.name;
        EXPECT_EQ(result.failure, c.failure) << c.name;
        EXPECT_FALSE(CommonModule::DoesFileExist(target)) << c.name;
        EXPECT_FALSE(CommonModule::DoesFileExist(target + ".part")) << c.name;
        // Generous: only shows that the time bound, not the server, ended the fetch.
        EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(20)) << c.name;
        if (c.failure == DownloadFailure::TooManyRedirects) {
            EXPECT_EQ(page.Requests() - asked, 6) << "the first page and five redirects";
        }
    }
}

TEST(DownloadPageToFile, ErrorStatusWithAWholeBodyIsComplete) {
    testing_support::TempFolder folder;
    const std::string target = folder.File("WAN.IP");
    LoopbackHttpServer page;
    page.Respond(LoopbackHttpServer::Mode::Reply,
                 "HTTP/1.1 503 Busy\r\nContent-Length: 6\r\nConnection: close\r\n\r\nbusy\r\n");
    const auto result = platform::DownloadPageToFile(page.Url(), target);
    EXPECT_TRUE(result.complete);
    EXPECT_EQ(result.status, 503);
    EXPECT_EQ(platform::DescribeDownload(result), "HTTP status 503");
    EXPECT_EQ(folder.Read("WAN.IP"), "busy\r\n");
}

TEST(DownloadPageToFile, APartFileLeftByAnEarlierRunIsRemoved) {
    testing_support::TempFolder folder;
    const std::string target = folder.File("WAN.IP");
    std::string refused;
    {
        LoopbackHttpServer gone;
        refused = gone.Url();
    }
    std::ofstream(target + ".part", std::ios::binary) << "198.51.100.99\r\n";
    EXPECT_EQ(platform::DownloadPageToFile(refused, target).failure,
              platform::DownloadFailure::CannotConnect);
    EXPECT_FALSE(CommonModule::DoesFileExist(target + ".part"));
}
