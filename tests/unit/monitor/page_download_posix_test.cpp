// The POSIX download's second road: with a proxy in the environment (or a redirect to https)
// libcurl does the fetch, under the same bounds and rules.
#include "common/file_checks.h"
#include "monitor/page_download.h"
#include "support/loopback_http_server.h"
#include "support/temp_folder.h"

#include <gtest/gtest.h>

#include <cstdlib>

using testing_support::LoopbackHttpServer;

namespace {

class ProxyVariable {
public:
    explicit ProxyVariable(const std::string& value) { ::setenv("http_proxy", value.c_str(), 1); }
    ~ProxyVariable() { ::unsetenv("http_proxy"); }
    ProxyVariable(const ProxyVariable&) = delete;
    ProxyVariable& operator=(const ProxyVariable&) = delete;
};

} // namespace

TEST(DownloadPageToFilePosix, ProxyFromTheEnvironmentIsUsedWithTheSameBounds) {
    testing_support::TempFolder folder;
    const std::string target = folder.File("WAN.IP");
    const platform::DownloadBounds shortBounds{std::chrono::milliseconds(1500), 1024};
    LoopbackHttpServer proxy;
    const ProxyVariable variable("http://127.0.0.1:" + std::to_string(proxy.Port()));
    // Nothing listens at the page's own address: only the proxy can answer. (A name from
    // /etc/hosts: the connection rule resolves a proxied page's host, and tests ask no DNS.)
    std::string page;
    {
        LoopbackHttpServer gone;
        page = "http://localhost:" + std::to_string(gone.Port()) + "/IPCheck.php";
    }

    proxy.RespondText("203.0.113.7\r\n");
    EXPECT_TRUE(platform::DownloadPageToFile(page, target, shortBounds).complete);
    EXPECT_EQ(folder.Read("WAN.IP"), "203.0.113.7\r\n");
    EXPECT_EQ(proxy.Requests(), 1);

    proxy.Respond(LoopbackHttpServer::Mode::Stall, "");
    EXPECT_FALSE(platform::DownloadPageToFile(page, target, shortBounds).complete);
    EXPECT_FALSE(CommonModule::DoesFileExist(target));

    proxy.RespondText(std::string(1025, 'a'));
    EXPECT_FALSE(platform::DownloadPageToFile(page, target, shortBounds).complete);
    EXPECT_FALSE(CommonModule::DoesFileExist(target));
}

TEST(DownloadPageToFilePosix, RedirectToHttpsIsHandedToLibcurl) {
    testing_support::TempFolder folder;
    const std::string target = folder.File("WAN.IP");
    LoopbackHttpServer page;
    LoopbackHttpServer plainText; // not a TLS server: the handshake fails
    plainText.RespondText("203.0.113.7\r\n");
    const std::string https = "https" + plainText.Url().substr(4);
    page.Respond(LoopbackHttpServer::Mode::Reply,
                 "HTTP/1.1 302 Found\r\nLocation: " + https +
                     "\r\nContent-Length: 0\r\nConnection: close\r\n\r\n");
    const platform::DownloadBounds shortBounds{std::chrono::milliseconds(1500), 1024};
    const auto result = platform::DownloadPageToFile(page.Url(), target, shortBounds);
    EXPECT_FALSE(result.complete);
    // The plain server waits for a request that never comes: the handshake runs into the
    // lookup's one deadline.
    EXPECT_EQ(result.failure, platform::DownloadFailure::TimedOut);
    EXPECT_FALSE(CommonModule::DoesFileExist(target));
    // libcurl goes on at the https address: the page itself is asked once.
    EXPECT_EQ(page.Requests(), 1);
}

TEST(DownloadPageToFilePosix, ThroughAProxyTheTargetsAddressesAreJudged) {
    testing_support::TempFolder folder;
    const std::string target = folder.File("WAN.IP");
    const platform::DownloadBounds shortBounds{std::chrono::milliseconds(1500), 1024};
    LoopbackHttpServer proxy;
    const ProxyVariable variable("http://127.0.0.1:" + std::to_string(proxy.Port()));
    // The proxy stands for a public page (an address only ever given to the proxy) that sends
    // the run to this machine.
    proxy.Respond(LoopbackHttpServer::Mode::Reply,
                  "HTTP/1.1 302 Found\r\nLocation: http://127.0.0.1:9/admin\r\n"
                  "Content-Length: 0\r\nConnection: close\r\n\r\n");
    const auto result =
        platform::DownloadPageToFile("http://198.51.100.10/IPCheck.php", target, shortBounds);
    EXPECT_FALSE(result.complete);
    EXPECT_EQ(result.failure, platform::DownloadFailure::InsideAddress);
    EXPECT_EQ(result.refused, "127.0.0.1");
    EXPECT_EQ(platform::DescribeDownload(result),
              "redirect from a public address refused: 127.0.0.1 is loopback");
    EXPECT_EQ(proxy.Requests(), 1) << "the redirect's request never went out";
    EXPECT_FALSE(CommonModule::DoesFileExist(target));
}
