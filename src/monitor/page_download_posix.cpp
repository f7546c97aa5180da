// POSIX page download. A plain-HTTP page without a proxy is fetched by the small HTTP/1.1 client
// below; anything else (https, a redirect to https, a proxy from the environment, user names in
// the address) goes to libcurl, which is loaded only then. The check run's budget is that of
// `curl -s` on the same page, and loading libcurl's dependency tree alone costs about as much.
// A hand-over continues where the small client stopped, within the same deadline and under the
// same rule for the addresses its connections reach (address_scope.h): the small client judges
// the address it connected to, libcurl's pre-request callback the one libcurl connected to, or
// through a proxy the target's own addresses as resolved here. Names are resolved within the
// deadline (resolve_posix.h).
// Only sockets and libcurl here; the answer is kept in memory and written once whole.
#include "monitor/page_download.h"

#include "common/resolve_posix.h"
#include "common/text.h"
#include "monitor/address_scope.h"
#include "monitor/curl_library_posix.h"
#include "monitor/http_response_reader.h"
#include "monitor/http_url.h"
#include "monitor/page_file.h"

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <curl/curl.h>
#include <fcntl.h>
#include <memory>
#include <netdb.h>
#include <netinet/in.h>
#include <optional>
#include <poll.h>
#include <string_view>
#include <sys/socket.h>
#include <unistd.h>
#include <vector>

namespace platform {

namespace {

using posix::CurlApi;
using posix::CurlEasy;
using posix::LoadCurl;
using posix::Sink;
using posix::WriteToSink;
using Clock = std::chrono::steady_clock;

struct Lookup {
    Clock::time_point deadline;
    std::size_t limit;
};

// --- the small client -----------------------------------------------------------------------

// An address libcurl may still take on (user names, say) although the small client does not.
bool LooksLikeHttp(std::string_view url) {
    const auto end = url.find("://");
    const std::string scheme =
        text::ToLowerAscii(url.substr(0, end == std::string_view::npos ? 0 : end));
    return scheme == "http" || scheme == "https";
}

// Whether libcurl takes a proxy from the environment for the scheme (it reads http_proxy only
// in lower case). NO_PROXY may still exempt a host; the rule then judges the host's own
// addresses, which is what the connection reaches.
bool ProxyFromEnvironment(bool secure = false) {
    for (const char* name : {secure ? "https_proxy" : "http_proxy", secure ? "HTTPS_PROXY" : "",
                             "all_proxy", "ALL_PROXY"}) {
        const char* value = *name != '\0' ? std::getenv(name) : nullptr;
        if (value != nullptr && *value != '\0') {
            return true;
        }
    }
    return false;
}

class Socket {
public:
    explicit Socket(int fd) : fd_(fd) {}
    ~Socket() {
        if (fd_ >= 0) {
            ::close(fd_);
        }
    }
    Socket(const Socket&) = delete;
    Socket& operator=(const Socket&) = delete;
    int get() const { return fd_; }

private:
    int fd_;
};

int MillisecondsLeft(Clock::time_point deadline) {
    const auto left =
        std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
    return left <= 0 ? 0 : static_cast<int>(std::min<long long>(left, 60'000));
}

// Waits for the socket within the deadline; false when the time is up or the wait failed.
bool WaitFor(int fd, short events, Clock::time_point deadline) {
    for (;;) {
        const int ms = MillisecondsLeft(deadline);
        if (ms == 0) {
            return false;
        }
        pollfd p{fd, events, 0};
        const int n = ::poll(&p, 1, ms);
        if (n > 0) {
            return true;
        }
        if (n < 0 && errno != EINTR) {
            return false;
        }
    }
}

// As WaitFor sees it: less than a millisecond left counts as none.
bool TimeIsUp(Clock::time_point deadline) {
    return MillisecondsLeft(deadline) == 0;
}

using posix::ResolvedAddress;

modGetExternalIP::AddressScope ScopeOf(const sockaddr_storage& address) {
    if (address.ss_family == AF_INET) {
        const auto& in = reinterpret_cast<const sockaddr_in&>(address);
        modGetExternalIP::IPv4Bytes bytes{};
        std::memcpy(bytes.data(), &in.sin_addr, bytes.size());
        return modGetExternalIP::ScopeOf(bytes);
    }
    const auto& in6 = reinterpret_cast<const sockaddr_in6&>(address);
    modGetExternalIP::IPv6Bytes bytes{};
    std::memcpy(bytes.data(), &in6.sin6_addr, bytes.size());
    return modGetExternalIP::ScopeOf(bytes);
}

std::string TextOf(const sockaddr_storage& address) {
    char text[NI_MAXHOST] = {};
    if (::getnameinfo(reinterpret_cast<const sockaddr*>(&address), sizeof address, text,
                      sizeof text, nullptr, 0, NI_NUMERICHOST) != 0) {
        return "?";
    }
    return text;
}

// The scope of a set of addresses: public only when every one is.
modGetExternalIP::AddressScope ScopeOfAll(const std::vector<ResolvedAddress>& addresses,
                                          std::string& inside) {
    for (const ResolvedAddress& a : addresses) {
        const auto scope = ScopeOf(a.address);
        if (scope != modGetExternalIP::AddressScope::Public) {
            inside = TextOf(a.address);
            return scope;
        }
    }
    return modGetExternalIP::AddressScope::Public;
}

struct Connection {
    int fd = -1;
    DownloadFailure failure = DownloadFailure::None;
    std::string refused;
};

// Connects to the first address that answers, and lets the connection go on only when the rule
// admits the address it reached.
Connection Connect(const http::Url& url, modGetExternalIP::ConnectionRule& rule,
                   Clock::time_point deadline) {
    const posix::Resolution resolution =
        posix::ResolveStream(url.host, std::to_string(url.port), deadline);
    for (const ResolvedAddress& a : resolution.addresses) {
        const int fd = ::socket(a.family, a.socktype | SOCK_CLOEXEC | SOCK_NONBLOCK, a.protocol);
        if (fd < 0) {
            continue;
        }
        bool connected =
            ::connect(fd, reinterpret_cast<const sockaddr*>(&a.address), a.length) == 0;
        int error = 0;
        socklen_t length = sizeof error;
        connected = connected ||
                    (errno == EINPROGRESS && WaitFor(fd, POLLOUT, deadline) &&
                     ::getsockopt(fd, SOL_SOCKET, SO_ERROR, &error, &length) == 0 && error == 0);
        if (!connected) {
            ::close(fd);
            continue;
        }
        if (!rule.Admit(ScopeOf(a.address))) {
            ::close(fd);
            return {-1, DownloadFailure::InsideAddress, TextOf(a.address)};
        }
        return {fd, DownloadFailure::None, {}};
    }
    const bool late = resolution.timedOut || TimeIsUp(deadline);
    return {-1, late ? DownloadFailure::TimedOut : DownloadFailure::CannotConnect, {}};
}

bool SendAll(int fd, const std::string& data, Clock::time_point deadline) {
    std::size_t sent = 0;
    while (sent < data.size()) {
        const ssize_t n = ::send(fd, data.data() + sent, data.size() - sent, MSG_NOSIGNAL);
        if (n > 0) {
            sent += static_cast<std::size_t>(n);
        } else if (n < 0 && (errno == EAGAIN || errno == EINTR)) {
            if (!WaitFor(fd, POLLOUT, deadline)) {
                return false;
            }
        } else {
            return false;
        }
    }
    return true;
}

DownloadResult Failed(DownloadFailure failure, int status = 0) {
    return {false, status, failure, {}};
}

// Reads one response until its framed end, or only its head when that is a redirect: the
// connection is closed after it either way.
DownloadFailure Receive(int fd, http::ResponseReader& reader, Clock::time_point deadline) {
    char buffer[8192];
    for (;;) {
        if (reader.HeadDone() && http::IsRedirectStatus(reader.Status()) &&
            !reader.Location().empty()) {
            return DownloadFailure::None;
        }
        const ssize_t n = ::recv(fd, buffer, sizeof buffer, 0);
        http::ResponseReader::State state = reader.Current();
        if (n > 0) {
            state = reader.Feed(std::string_view(buffer, static_cast<std::size_t>(n)));
        } else if (n == 0) {
            state = reader.PeerClosed();
        } else if (errno == EAGAIN || errno == EINTR) {
            if (!WaitFor(fd, POLLIN, deadline)) {
                return TimeIsUp(deadline) ? DownloadFailure::TimedOut
                                          : DownloadFailure::CannotConnect;
            }
            continue;
        } else {
            return DownloadFailure::Truncated;
        }
        if (state != http::ResponseReader::State::NeedMore) {
            return reader.Failure();
        }
    }
}

// Asks the chain's pages in turn until one answers. Sets handOver (and leaves the chain at
// the page to ask next) when libcurl has to go on: an https page.
DownloadResult FetchPlain(http::RedirectChain& chain, modGetExternalIP::ConnectionRule& rule,
                          std::string& body, const Lookup& lookup, bool& handOver) {
    for (;;) {
        const http::Url& url = chain.Current();
        if (url.secure) {
            handOver = true;
            return {};
        }
        const Connection connection = Connect(url, rule, lookup.deadline);
        if (connection.fd < 0) {
            DownloadResult result = Failed(connection.failure);
            result.refused = connection.refused;
            return result;
        }
        const int fd = connection.fd;
        const Socket socket(fd);
        const std::string request = "GET " + url.target + " HTTP/1.1\r\nHost: " + url.authority +
                                    "\r\nUser-Agent: Addrwatch\r\nAccept: */*\r\n"
                                    "Connection: close\r\n\r\n";
        if (!SendAll(fd, request, lookup.deadline)) {
            return Failed(TimeIsUp(lookup.deadline) ? DownloadFailure::TimedOut
                                                    : DownloadFailure::CannotConnect);
        }
        http::ResponseReader reader(lookup.limit);
        const DownloadFailure failure = Receive(fd, reader, lookup.deadline);
        if (failure != DownloadFailure::None) {
            return Failed(failure, reader.Status());
        }
        if (reader.HeadDone() && http::IsRedirectStatus(reader.Status()) &&
            !reader.Location().empty()) {
            switch (chain.Redirect(reader.Location())) {
            case http::RedirectChain::Verdict::Follow:
                continue;
            case http::RedirectChain::Verdict::TooMany:
                return Failed(DownloadFailure::TooManyRedirects, reader.Status());
            case http::RedirectChain::Verdict::Refused:
                return Failed(DownloadFailure::BadRedirect, reader.Status());
            }
        }
        body = reader.Body();
        return {true, reader.Status(), DownloadFailure::None, {}};
    }
}

// --- libcurl, loaded on demand --------------------------------------------------------------

// What the pre-request callback needs to judge the connection libcurl is about to use.
struct ConnectionCheck {
    const CurlApi* api;
    CURL* handle;
    modGetExternalIP::ConnectionRule* rule;
    Clock::time_point deadline;
    std::string refused;
};

// Through a proxy the connection reaches the proxy: the target's own addresses are judged
// instead, as resolved here (a name that does not resolve here lies beyond the proxy).
modGetExternalIP::AddressScope ProxiedTargetScope(std::string_view target,
                                                  Clock::time_point deadline, std::string& inside) {
    const auto url = http::ParseUrl(target);
    if (!url) {
        return modGetExternalIP::AddressScope::Public;
    }
    if (const auto scope = modGetExternalIP::ScopeOfText(url->host)) {
        inside = url->host;
        return *scope;
    }
    return ScopeOfAll(
        posix::ResolveStream(url->host, std::to_string(url->port), deadline).addresses, inside);
}

// libcurl's pre-request callback: called for every connection, redirects included, once it is
// made and before a byte of the request is sent on it.
int CheckConnection(void* clientp, char* primaryIp, char*, int, int) {
    auto& check = *static_cast<ConnectionCheck*>(clientp);
    char* effective = nullptr;
    check.api->easy_getinfo(check.handle, CURLINFO_EFFECTIVE_URL, &effective);
    const std::string_view target = effective != nullptr ? effective : "";
    const bool secure = text::ToLowerAscii(target.substr(0, 6)) == "https:";
    std::string address = primaryIp != nullptr ? primaryIp : "";
    const auto scope = ProxyFromEnvironment(secure)
                           ? ProxiedTargetScope(target, check.deadline, address)
                           : modGetExternalIP::ScopeOfText(address).value_or(
                                 modGetExternalIP::AddressScope::Public);
    if (!check.rule->Admit(scope)) {
        check.refused = address;
        return CURL_PREREQFUNC_ABORT;
    }
    return CURL_PREREQFUNC_OK;
}

DownloadFailure FailureOf(CURLcode code) {
    switch (code) {
    case CURLE_OPERATION_TIMEDOUT:
        return DownloadFailure::TimedOut;
    case CURLE_WRITE_ERROR:
    case CURLE_FILESIZE_EXCEEDED:
        return DownloadFailure::TooLarge;
    case CURLE_TOO_MANY_REDIRECTS:
        return DownloadFailure::TooManyRedirects;
    case CURLE_UNSUPPORTED_PROTOCOL:
        return DownloadFailure::BadRedirect;
    case CURLE_PARTIAL_FILE:
        return DownloadFailure::Truncated;
    case CURLE_WEIRD_SERVER_REPLY:
    case CURLE_BAD_CONTENT_ENCODING:
        return DownloadFailure::Malformed;
    default:
        return DownloadFailure::CannotConnect;
    }
}

// Fetches sUrl with libcurl under what is left of the lookup: its deadline and the redirects
// not yet used.
DownloadResult FetchWithCurl(const std::string& sUrl, int redirectsLeft,
                             modGetExternalIP::ConnectionRule& rule, std::string& body,
                             const Lookup& lookup) {
    const auto left =
        std::chrono::duration_cast<std::chrono::milliseconds>(lookup.deadline - Clock::now());
    if (left.count() <= 0) {
        return Failed(DownloadFailure::TimedOut);
    }
    const CurlApi* api = LoadCurl();
    if (api == nullptr) {
        return Failed(DownloadFailure::CannotConnect);
    }
    CurlEasy easy(*api);
    CURL* h = easy.get();
    if (h == nullptr) {
        return Failed(DownloadFailure::CannotConnect);
    }
    Sink sink{&body, lookup.limit};
    ConnectionCheck check{api, h, &rule, lookup.deadline, {}};
    using Prereq = int (*)(void*, char*, char*, int, int);
    auto set = [&](CURLoption option, auto value) {
        return api->easy_setopt(h, option, value) == CURLE_OK;
    };
    // Both lists limit the first request and every redirect; file:, ftp: and the rest are
    // refused. Proxies come from the usual environment variables, as libcurl reads them.
    bool ok = set(CURLOPT_URL, sUrl.c_str()) && set(CURLOPT_PROTOCOLS_STR, "http,https") &&
              set(CURLOPT_REDIR_PROTOCOLS_STR, "http,https") && set(CURLOPT_FOLLOWLOCATION, 1L) &&
              set(CURLOPT_MAXREDIRS, static_cast<long>(redirectsLeft)) &&
              set(CURLOPT_TIMEOUT_MS, static_cast<long>(left.count())) &&
              set(CURLOPT_NOSIGNAL, 1L) &&
              set(CURLOPT_MAXFILESIZE_LARGE, static_cast<curl_off_t>(lookup.limit)) &&
              set(CURLOPT_WRITEFUNCTION, &WriteToSink) &&
              set(CURLOPT_WRITEDATA, static_cast<void*>(&sink)) &&
              // Every connection is judged before a request goes out on it; a libcurl without
              // the callback (before 7.80) fetches nothing.
              set(CURLOPT_PREREQFUNCTION, static_cast<Prereq>(&CheckConnection)) &&
              set(CURLOPT_PREREQDATA, static_cast<void*>(&check));
    ok = ok && posix::UseTrustStoreFromEnvironment(*api, h);
    if (!ok) {
        return Failed(DownloadFailure::CannotConnect);
    }
    const CURLcode code = api->easy_perform(h);
    long status = 0;
    api->easy_getinfo(h, CURLINFO_RESPONSE_CODE, &status);
    if (code != CURLE_OK) {
        if (!check.refused.empty() || code == CURLE_ABORTED_BY_CALLBACK) {
            DownloadResult refused =
                Failed(DownloadFailure::InsideAddress, static_cast<int>(status));
            refused.refused = check.refused;
            return refused;
        }
        return Failed(FailureOf(code), static_cast<int>(status));
    }
    return {true, static_cast<int>(status), DownloadFailure::None, {}};
}

} // namespace

DownloadResult DownloadPageToFile(const std::string& sUrl, const std::string& sFile,
                                  const DownloadBounds& bounds) {
    RemovePageFiles(sFile);
    const Lookup lookup{Clock::now() + bounds.time, bounds.bytes};
    std::string body;
    DownloadResult result;
    const auto url = http::ParseUrl(sUrl);
    bool handOver = true;
    modGetExternalIP::ConnectionRule rule;
    std::string curlUrl = sUrl;
    int redirectsLeft = http::kMaxRedirects;
    if (url && !ProxyFromEnvironment()) {
        handOver = false;
        http::RedirectChain chain(*url);
        result = FetchPlain(chain, rule, body, lookup, handOver);
        curlUrl = http::ToText(chain.Current());
        redirectsLeft = http::kMaxRedirects - chain.Redirects();
    } else if (!url && !LooksLikeHttp(sUrl)) {
        return Failed(DownloadFailure::CannotConnect);
    }
    if (handOver) {
        body.clear();
        result = FetchWithCurl(curlUrl, redirectsLeft, rule, body, lookup);
    }
    if (result.complete && !WritePageFile(sFile, body)) {
        result.complete = false;
    }
    return result;
}

} // namespace platform
