// POSIX page download. A plain-HTTP page without a proxy is fetched by the small HTTP/1.1 client
// below; anything else (https, a redirect to https, a proxy from the environment, user names in
// the address) goes to libcurl, which is loaded only then. The check run's budget is that of
// `curl -s` on the same page, and loading libcurl's dependency tree alone costs about as much.
// Only sockets, stdio and libcurl here; the target file is written only when a fetch completed
// within its bounds, and removed otherwise.
#include "monitor/page_download.h"

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <curl/curl.h>
#include <dlfcn.h>
#include <fcntl.h>
#include <netdb.h>
#include <optional>
#include <poll.h>
#include <string_view>
#include <sys/socket.h>
#include <type_traits>
#include <unistd.h>

namespace platform {

namespace {

using Clock = std::chrono::steady_clock;
constexpr int kMaxRedirects = 5;
constexpr std::size_t kMaxHeaderBytes = 16 * 1024;

enum class Fetched { Ok, Failed, NeedsCurl };

// --- the small client -----------------------------------------------------------------------

bool StartsWithNoCase(std::string_view text, std::string_view prefix) {
    return text.size() >= prefix.size() &&
           std::equal(prefix.begin(), prefix.end(), text.begin(), [](char a, char b) {
               return std::tolower(static_cast<unsigned char>(a)) ==
                      std::tolower(static_cast<unsigned char>(b));
           });
}

struct HttpUrl {
    std::string authority; // as it goes into the Host header
    std::string host;      // for the resolver (no brackets)
    std::string port = "80";
    std::string target = "/"; // path and query
};

// Parses "http://host[:port][/path]". Nothing: not a URL this client takes on.
std::optional<HttpUrl> ParseHttpUrl(std::string_view url) {
    if (!StartsWithNoCase(url, "http://")) {
        return std::nullopt;
    }
    url.remove_prefix(7);
    url = url.substr(0, url.find('#'));
    for (const char c : url) {
        if (static_cast<unsigned char>(c) <= 0x20 || c == 0x7f) {
            return std::nullopt;
        }
    }
    const auto pathStart = url.find_first_of("/?");
    HttpUrl parsed;
    parsed.authority = std::string(url.substr(0, pathStart));
    if (pathStart != std::string_view::npos) {
        parsed.target = std::string(url.substr(pathStart));
        if (parsed.target.front() == '?') {
            parsed.target.insert(0, "/");
        }
    }
    const std::string& a = parsed.authority;
    if (a.empty() || a.find('@') != std::string::npos) {
        return std::nullopt;
    }
    std::size_t hostEnd = a.size();
    if (a.front() == '[') {
        const auto close = a.find(']');
        if (close == std::string::npos) {
            return std::nullopt;
        }
        parsed.host = a.substr(1, close - 1);
        hostEnd = close + 1;
    } else {
        hostEnd = std::min(a.find(':'), a.size());
        parsed.host = a.substr(0, hostEnd);
    }
    if (hostEnd < a.size()) {
        if (a[hostEnd] != ':') {
            return std::nullopt;
        }
        const std::string port = a.substr(hostEnd + 1);
        if (!port.empty()) {
            if (port.size() > 5 || port.find_first_not_of("0123456789") != std::string::npos) {
                return std::nullopt;
            }
            parsed.port = port;
        }
    }
    return parsed.host.empty() ? std::nullopt : std::optional(parsed);
}

bool ProxyFromEnvironment() {
    for (const char* name : {"http_proxy", "all_proxy", "ALL_PROXY"}) {
        const char* value = std::getenv(name);
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

class AddressList {
public:
    AddressList(const HttpUrl& url) {
        addrinfo hints{};
        hints.ai_family = AF_UNSPEC;
        hints.ai_socktype = SOCK_STREAM;
        if (::getaddrinfo(url.host.c_str(), url.port.c_str(), &hints, &list_) != 0) {
            list_ = nullptr;
        }
    }
    ~AddressList() {
        if (list_ != nullptr) {
            ::freeaddrinfo(list_);
        }
    }
    AddressList(const AddressList&) = delete;
    AddressList& operator=(const AddressList&) = delete;
    const addrinfo* get() const { return list_; }

private:
    addrinfo* list_ = nullptr;
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

int Connect(const HttpUrl& url, Clock::time_point deadline) {
    const AddressList addresses(url);
    for (const addrinfo* a = addresses.get(); a != nullptr; a = a->ai_next) {
        const int fd =
            ::socket(a->ai_family, a->ai_socktype | SOCK_CLOEXEC | SOCK_NONBLOCK, a->ai_protocol);
        if (fd < 0) {
            continue;
        }
        if (::connect(fd, a->ai_addr, a->ai_addrlen) == 0) {
            return fd;
        }
        int error = 0;
        socklen_t length = sizeof error;
        if (errno == EINPROGRESS && WaitFor(fd, POLLOUT, deadline) &&
            ::getsockopt(fd, SOL_SOCKET, SO_ERROR, &error, &length) == 0 && error == 0) {
            return fd;
        }
        ::close(fd);
    }
    return -1;
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

// Reads what the server sends until it closes, at most `limit` bytes; false on error, timeout
// or a longer answer.
bool ReceiveAll(int fd, std::string& into, std::size_t limit, Clock::time_point deadline) {
    char buffer[8192];
    for (;;) {
        const ssize_t n = ::recv(fd, buffer, sizeof buffer, 0);
        if (n > 0) {
            if (static_cast<std::size_t>(n) > limit - into.size()) {
                return false;
            }
            into.append(buffer, static_cast<std::size_t>(n));
        } else if (n == 0) {
            return true;
        } else if (errno == EAGAIN || errno == EINTR) {
            if (!WaitFor(fd, POLLIN, deadline)) {
                return false;
            }
        } else {
            return false;
        }
    }
}

struct Response {
    int status = 0;
    std::string location;
    std::optional<std::size_t> contentLength;
    bool chunked = false;
    std::string body; // as received, still chunk-encoded when chunked
};

std::string Trimmed(std::string_view s) {
    const auto first = s.find_first_not_of(" \t");
    if (first == std::string_view::npos) {
        return {};
    }
    return std::string(s.substr(first, s.find_last_not_of(" \t") - first + 1));
}

// Splits the received bytes into status, the headers this client needs, and the body.
std::optional<Response> ParseResponse(const std::string& raw) {
    const auto end = raw.find("\r\n\r\n");
    if (end == std::string::npos || end > kMaxHeaderBytes) {
        return std::nullopt;
    }
    Response r;
    std::string_view head(raw.data(), end);
    const auto lineEnd = head.find("\r\n");
    const std::string_view statusLine = head.substr(0, lineEnd);
    if (!StartsWithNoCase(statusLine, "HTTP/1.") || statusLine.size() < 12 ||
        statusLine[8] != ' ') {
        return std::nullopt;
    }
    const std::string code(statusLine.substr(9, 3));
    if (code.find_first_not_of("0123456789") != std::string::npos) {
        return std::nullopt;
    }
    r.status = std::atoi(code.c_str());
    head.remove_prefix(lineEnd == std::string_view::npos ? head.size() : lineEnd + 2);
    while (!head.empty()) {
        const auto eol = head.find("\r\n");
        const std::string_view line = head.substr(0, eol);
        head.remove_prefix(eol == std::string_view::npos ? head.size() : eol + 2);
        const auto colon = line.find(':');
        if (colon == std::string_view::npos) {
            continue;
        }
        const std::string_view name = line.substr(0, colon);
        const std::string value = Trimmed(line.substr(colon + 1));
        auto is = [&](std::string_view n) {
            return name.size() == n.size() && StartsWithNoCase(name, n);
        };
        if (is("Location")) {
            r.location = value;
        } else if (is("Content-Length")) {
            if (value.empty() || value.size() > 18 ||
                value.find_first_not_of("0123456789") != std::string::npos) {
                return std::nullopt;
            }
            r.contentLength = std::strtoull(value.c_str(), nullptr, 10);
        } else if (is("Transfer-Encoding")) {
            r.chunked = StartsWithNoCase(value, "chunked");
        }
    }
    r.body = raw.substr(end + 4);
    return r;
}

// The body of a chunked answer; nothing when it is malformed or longer than the limit.
std::optional<std::string> Dechunk(std::string_view data, std::size_t limit) {
    std::string body;
    for (;;) {
        const auto eol = data.find("\r\n");
        if (eol == std::string_view::npos) {
            return std::nullopt;
        }
        const std::string sizeText(data.substr(0, data.find_first_of(";\r")));
        char* stop = nullptr;
        const unsigned long long size = std::strtoull(sizeText.c_str(), &stop, 16);
        if (sizeText.empty() || stop == sizeText.c_str()) {
            return std::nullopt;
        }
        data.remove_prefix(eol + 2);
        if (size == 0) {
            return body;
        }
        if (size > limit - body.size() || data.size() < size + 2) {
            return std::nullopt;
        }
        body.append(data.substr(0, size));
        data.remove_prefix(size + 2);
    }
}

bool IsRedirect(int status) {
    return status == 301 || status == 302 || status == 303 || status == 307 || status == 308;
}

// The address a Location header leads to, resolved against the current page.
std::string ResolveLocation(const HttpUrl& base, const std::string& location) {
    if (location.find("://") != std::string::npos) {
        return location;
    }
    if (location.rfind("//", 0) == 0) {
        return "http:" + location;
    }
    if (!location.empty() && location.front() == '/') {
        return "http://" + base.authority + location;
    }
    const std::string path = base.target.substr(0, base.target.find('?'));
    return "http://" + base.authority + path.substr(0, path.rfind('/') + 1) + location;
}

Fetched FetchPlain(std::string url, std::string& body, const DownloadBounds& bounds) {
    const auto deadline = Clock::now() + bounds.time;
    for (int redirects = 0;; ++redirects) {
        const auto parsed = ParseHttpUrl(url);
        if (!parsed) {
            // A redirect to https (or to an address this client does not take on): libcurl
            // decides, under the same rules.
            return StartsWithNoCase(url, "https://") ? Fetched::NeedsCurl : Fetched::Failed;
        }
        const int fd = Connect(*parsed, deadline);
        if (fd < 0) {
            return Fetched::Failed;
        }
        const Socket socket(fd);
        const std::string request = "GET " + parsed->target +
                                    " HTTP/1.1\r\nHost: " + parsed->authority +
                                    "\r\nUser-Agent: Addrwatch\r\nAccept: */*\r\n"
                                    "Connection: close\r\n\r\n";
        std::string raw;
        if (!SendAll(fd, request, deadline) ||
            !ReceiveAll(fd, raw, kMaxHeaderBytes + 4 + bounds.bytes + 4096, deadline)) {
            return Fetched::Failed;
        }
        auto response = ParseResponse(raw);
        if (!response || response->status < 200) {
            return response ? Fetched::NeedsCurl : Fetched::Failed;
        }
        if (IsRedirect(response->status) && !response->location.empty()) {
            if (redirects == kMaxRedirects) {
                return Fetched::Failed;
            }
            const std::string next = ResolveLocation(*parsed, response->location);
            if (!StartsWithNoCase(next, "http://") && !StartsWithNoCase(next, "https://")) {
                return Fetched::Failed;
            }
            url = next;
            continue;
        }
        if (response->status == 204 || response->status == 304) {
            body.clear();
            return Fetched::Ok;
        }
        if (response->chunked) {
            auto decoded = Dechunk(response->body, bounds.bytes);
            if (!decoded) {
                return Fetched::Failed;
            }
            body = std::move(*decoded);
            return Fetched::Ok;
        }
        if (response->contentLength) {
            if (*response->contentLength > bounds.bytes ||
                response->body.size() < *response->contentLength) {
                return Fetched::Failed;
            }
            response->body.resize(*response->contentLength);
        }
        if (response->body.size() > bounds.bytes) {
            return Fetched::Failed;
        }
        body = std::move(response->body);
        return Fetched::Ok;
    }
}

// --- libcurl, loaded on demand --------------------------------------------------------------

struct CurlApi {
    CURLcode (*global_init)(long);
    void (*global_cleanup)();
    CURL* (*easy_init)();
    CURLcode (*easy_setopt)(CURL*, CURLoption, ...);
    CURLcode (*easy_perform)(CURL*);
    void (*easy_cleanup)(CURL*);
};

// The library stays loaded for the life of the process once it was needed.
const CurlApi* LoadCurl() {
    static const std::optional<CurlApi> api = []() -> std::optional<CurlApi> {
        void* lib = ::dlopen("libcurl.so.4", RTLD_NOW | RTLD_LOCAL);
        if (lib == nullptr) {
            return std::nullopt;
        }
        CurlApi a{};
        bool ok = true;
        auto bind = [&](auto& fn, const char* name) {
            void* symbol = ::dlsym(lib, name);
            ok = ok && symbol != nullptr;
            fn = reinterpret_cast<std::remove_reference_t<decltype(fn)>>(symbol);
        };
        bind(a.global_init, "curl_global_init");
        bind(a.global_cleanup, "curl_global_cleanup");
        bind(a.easy_init, "curl_easy_init");
        bind(a.easy_setopt, "curl_easy_setopt");
        bind(a.easy_perform, "curl_easy_perform");
        bind(a.easy_cleanup, "curl_easy_cleanup");
        if (!ok || a.global_init(CURL_GLOBAL_DEFAULT) != CURLE_OK) {
            return std::nullopt;
        }
        return a;
    }();
    return api ? &*api : nullptr;
}

class CurlEasy {
public:
    explicit CurlEasy(const CurlApi& api) : api_(api), h_(api.easy_init()) {}
    ~CurlEasy() {
        if (h_ != nullptr) {
            api_.easy_cleanup(h_);
        }
    }
    CurlEasy(const CurlEasy&) = delete;
    CurlEasy& operator=(const CurlEasy&) = delete;
    CURL* get() const { return h_; }

private:
    const CurlApi& api_;
    CURL* h_;
};

struct Sink {
    std::string* body;
    std::size_t limit;
};

// Returning less than offered makes libcurl stop with a write error: past the size bound.
std::size_t WriteToSink(char* data, std::size_t size, std::size_t count, void* userdata) {
    auto* sink = static_cast<Sink*>(userdata);
    const std::size_t n = size * count;
    if (n > sink->limit - sink->body->size()) {
        return 0;
    }
    sink->body->append(data, n);
    return n;
}

bool FetchWithCurl(const std::string& sUrl, std::string& body, const DownloadBounds& bounds) {
    const CurlApi* api = LoadCurl();
    if (api == nullptr) {
        return false;
    }
    CurlEasy easy(*api);
    CURL* h = easy.get();
    if (h == nullptr) {
        return false;
    }
    Sink sink{&body, bounds.bytes};
    auto set = [&](CURLoption option, auto value) {
        return api->easy_setopt(h, option, value) == CURLE_OK;
    };
    // Both lists limit the first request and every redirect; file:, ftp: and the rest are
    // refused. Proxies come from the usual environment variables, as libcurl reads them.
    const bool ok = set(CURLOPT_URL, sUrl.c_str()) && set(CURLOPT_PROTOCOLS_STR, "http,https") &&
                    set(CURLOPT_REDIR_PROTOCOLS_STR, "http,https") &&
                    set(CURLOPT_FOLLOWLOCATION, 1L) &&
                    set(CURLOPT_MAXREDIRS, static_cast<long>(kMaxRedirects)) &&
                    set(CURLOPT_TIMEOUT_MS, static_cast<long>(bounds.time.count())) &&
                    set(CURLOPT_NOSIGNAL, 1L) &&
                    set(CURLOPT_MAXFILESIZE_LARGE, static_cast<curl_off_t>(bounds.bytes)) &&
                    set(CURLOPT_WRITEFUNCTION, &WriteToSink) &&
                    set(CURLOPT_WRITEDATA, static_cast<void*>(&sink));
    return ok && api->easy_perform(h) == CURLE_OK;
}

bool WriteFileBytes(const std::string& sFile, const std::string& bytes) {
    std::FILE* f = std::fopen(sFile.c_str(), "wb");
    if (f == nullptr) {
        return false;
    }
    const bool written = std::fwrite(bytes.data(), 1, bytes.size(), f) == bytes.size();
    return std::fclose(f) == 0 && written;
}

} // namespace

bool DownloadPageToFile(const std::string& sUrl, const std::string& sFile,
                        const DownloadBounds& bounds) {
    ::unlink(sFile.c_str());
    std::string body;
    Fetched fetched = Fetched::NeedsCurl;
    if (!ProxyFromEnvironment() && ParseHttpUrl(sUrl)) {
        fetched = FetchPlain(sUrl, body, bounds);
    }
    if (fetched == Fetched::NeedsCurl) {
        body.clear();
        fetched = FetchWithCurl(sUrl, body, bounds) ? Fetched::Ok : Fetched::Failed;
    }
    if (fetched == Fetched::Ok && WriteFileBytes(sFile, body)) {
        return true;
    }
    ::unlink(sFile.c_str());
    return false;
}

void DeletePageCacheEntry(const std::string&) {}

} // namespace platform
