// The WAN address lookup: the last-line rule, the page choice, and the bounded download against
// a loopback page (the platform's own downloader on Windows, libcurl on POSIX).
#include "common/file_checks.h"
#include "monitor/page_download.h"
#include "monitor/wan_ip.h"
#include "settings/app_settings.h"
#include "support/loopback_http_server.h"
#include "support/temp_folder.h"

#include <gtest/gtest.h>

#include <chrono>
#include <fstream>
#include <string>

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
