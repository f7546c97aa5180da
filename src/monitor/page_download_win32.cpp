// Windows page download with WinHTTP, synchronously. WinHTTP keeps no cache, so nothing of the
// answer reaches the disk until it is whole. Redirects are followed here rather than by WinHTTP
// so that the shared rule applies; the lookup's one deadline is spread over the per-request
// time-outs and checked between reads. The certificate is checked by WinHTTP's default secure
// behaviour during the handshake, before the request goes out. Only Win32 here.
#include "monitor/page_download.h"

#include "common/win32_handle.h"
#include "common/win32_text.h"
#include "common/windows_api.h"
#include "monitor/http_url.h"
#include "monitor/page_file.h"

#include <winhttp.h>

#include <algorithm>
#include <charconv>
#include <string>
#include <string_view>

namespace platform {

namespace {

inline void CloseInternetHandle(HINTERNET h) {
    ::WinHttpCloseHandle(h);
}
using InternetHandle = win32::UniqueHandle<HINTERNET, CloseInternetHandle>;

class Deadline {
public:
    explicit Deadline(std::chrono::milliseconds span)
        : end_(::GetTickCount64() + static_cast<ULONGLONG>(span.count())) {}
    // Milliseconds left, at least 1 while any is left; 0 once the time is up.
    int Left() const {
        const ULONGLONG now = ::GetTickCount64();
        return now >= end_ ? 0 : static_cast<int>(std::min<ULONGLONG>(end_ - now, 0x7fffffff));
    }

private:
    ULONGLONG end_;
};

DownloadResult Failed(DownloadFailure failure, int status = 0) {
    return {false, status, failure};
}

// What a failed WinHTTP call means for the lookup.
DownloadFailure FailureOfLastError(const Deadline& deadline, DownloadFailure otherwise) {
    const DWORD error = ::GetLastError();
    if (error == ERROR_WINHTTP_TIMEOUT || deadline.Left() == 0) {
        return DownloadFailure::TimedOut;
    }
    if (error == ERROR_WINHTTP_INVALID_SERVER_RESPONSE) {
        return DownloadFailure::Malformed;
    }
    if (error == ERROR_WINHTTP_HEADER_SIZE_OVERFLOW) {
        return DownloadFailure::TooLarge;
    }
    return otherwise;
}

// The machine's proxy settings: the automatic ones where the system has them, else those set
// for WinHTTP. The daily run is the system account, which has no per-user settings.
InternetHandle OpenSession() {
    InternetHandle session(::WinHttpOpen(L"Addrwatch", WINHTTP_ACCESS_TYPE_AUTOMATIC_PROXY,
                                         WINHTTP_NO_PROXY_NAME, WINHTTP_NO_PROXY_BYPASS, 0));
    if (!session) {
        session.reset(::WinHttpOpen(L"Addrwatch", WINHTTP_ACCESS_TYPE_DEFAULT_PROXY,
                                    WINHTTP_NO_PROXY_NAME, WINHTTP_NO_PROXY_BYPASS, 0));
    }
    return session;
}

bool SetNumberOption(HINTERNET h, DWORD option, DWORD value) {
    return ::WinHttpSetOption(h, option, &value, sizeof value) != FALSE;
}

bool SetTimeouts(HINTERNET h, const Deadline& deadline) {
    const int left = deadline.Left();
    return left > 0 && ::WinHttpSetTimeouts(h, left, left, left, left) != FALSE;
}

// A header's text; empty when it is absent.
std::wstring QueryHeader(HINTERNET request, DWORD which) {
    DWORD size = 0;
    ::WinHttpQueryHeaders(request, which, WINHTTP_HEADER_NAME_BY_INDEX, WINHTTP_NO_OUTPUT_BUFFER,
                          &size, WINHTTP_NO_HEADER_INDEX);
    if (::GetLastError() != ERROR_INSUFFICIENT_BUFFER || size == 0) {
        return {};
    }
    std::wstring text(size / sizeof(wchar_t) + 1, L'\0');
    size = static_cast<DWORD>(text.size() * sizeof(wchar_t));
    if (!::WinHttpQueryHeaders(request, which, WINHTTP_HEADER_NAME_BY_INDEX, text.data(), &size,
                               WINHTTP_NO_HEADER_INDEX)) {
        return {};
    }
    text.resize(size / sizeof(wchar_t));
    return text;
}

int QueryStatus(HINTERNET request) {
    DWORD status = 0;
    DWORD size = sizeof status;
    if (!::WinHttpQueryHeaders(request, WINHTTP_QUERY_STATUS_CODE | WINHTTP_QUERY_FLAG_NUMBER,
                               WINHTTP_HEADER_NAME_BY_INDEX, &status, &size,
                               WINHTTP_NO_HEADER_INDEX)) {
        return 0;
    }
    return static_cast<int>(status);
}

// The declared body length when the body is framed by it (not chunked); -1 otherwise.
long long DeclaredLength(HINTERNET request) {
    if (!QueryHeader(request, WINHTTP_QUERY_TRANSFER_ENCODING).empty()) {
        return -1;
    }
    const std::string text = win32::WideToAnsi(QueryHeader(request, WINHTTP_QUERY_CONTENT_LENGTH));
    long long length = -1;
    const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), length);
    return error == std::errc() && end == text.data() + text.size() ? length : -1;
}

// Reads the body, at most one byte past the bound.
DownloadResult ReadBody(HINTERNET request, int status, std::string& body, std::size_t limit,
                        const Deadline& deadline) {
    const long long declared = DeclaredLength(request);
    if (declared > static_cast<long long>(limit)) {
        return Failed(DownloadFailure::TooLarge, status);
    }
    char buffer[8192];
    for (;;) {
        const int left = deadline.Left();
        if (left == 0) {
            return Failed(DownloadFailure::TimedOut, status);
        }
        SetNumberOption(request, WINHTTP_OPTION_RECEIVE_TIMEOUT, static_cast<DWORD>(left));
        const DWORD want =
            static_cast<DWORD>(std::min<std::size_t>(sizeof buffer, limit + 1 - body.size()));
        DWORD got = 0;
        if (!::WinHttpReadData(request, buffer, want, &got)) {
            return Failed(FailureOfLastError(deadline, DownloadFailure::Truncated), status);
        }
        if (got == 0) {
            break;
        }
        body.append(buffer, got);
        if (body.size() > limit) {
            return Failed(DownloadFailure::TooLarge, status);
        }
    }
    if (declared >= 0 && body.size() < static_cast<std::size_t>(declared)) {
        return Failed(DownloadFailure::Truncated, status);
    }
    return {true, status, DownloadFailure::None};
}

DownloadResult Fetch(const std::string& sUrl, std::string& body, const DownloadBounds& bounds) {
    const Deadline deadline(bounds.time);
    const auto first = http::ParseUrl(sUrl);
    if (!first) {
        return Failed(DownloadFailure::CannotConnect);
    }
    const InternetHandle session = OpenSession();
    if (!session) {
        return Failed(DownloadFailure::CannotConnect);
    }
    // Automatic redirects off on the session and again per request (the older switch).
    SetNumberOption(session.get(), WINHTTP_OPTION_REDIRECT_POLICY,
                    WINHTTP_OPTION_REDIRECT_POLICY_NEVER);
    http::RedirectChain chain(*first);
    for (;;) {
        const http::Url& url = chain.Current();
        if (!SetTimeouts(session.get(), deadline)) {
            return Failed(DownloadFailure::TimedOut);
        }
        const InternetHandle connection(
            ::WinHttpConnect(session.get(), win32::AnsiToWide(url.host).c_str(), url.port, 0));
        const std::wstring target = win32::AnsiToWide(url.target);
        const InternetHandle request(
            connection ? ::WinHttpOpenRequest(connection.get(), L"GET", target.c_str(), nullptr,
                                              WINHTTP_NO_REFERER, WINHTTP_DEFAULT_ACCEPT_TYPES,
                                              url.secure ? WINHTTP_FLAG_SECURE : 0)
                       : nullptr);
        if (!request ||
            !SetNumberOption(request.get(), WINHTTP_OPTION_DISABLE_FEATURE,
                             WINHTTP_DISABLE_REDIRECTS | WINHTTP_DISABLE_COOKIES |
                                 WINHTTP_DISABLE_KEEP_ALIVE) ||
            !SetTimeouts(request.get(), deadline)) {
            return Failed(FailureOfLastError(deadline, DownloadFailure::CannotConnect));
        }
        if (!::WinHttpSendRequest(request.get(), WINHTTP_NO_ADDITIONAL_HEADERS, 0,
                                  WINHTTP_NO_REQUEST_DATA, 0, 0, 0) ||
            !::WinHttpReceiveResponse(request.get(), nullptr)) {
            return Failed(FailureOfLastError(deadline, DownloadFailure::CannotConnect));
        }
        const int status = QueryStatus(request.get());
        const std::string location =
            win32::WideToAnsi(QueryHeader(request.get(), WINHTTP_QUERY_LOCATION));
        if (!http::IsRedirectStatus(status) || location.empty()) {
            return ReadBody(request.get(), status, body, bounds.bytes, deadline);
        }
        switch (chain.Redirect(location)) {
        case http::RedirectChain::Verdict::Follow:
            break;
        case http::RedirectChain::Verdict::TooMany:
            return Failed(DownloadFailure::TooManyRedirects, status);
        case http::RedirectChain::Verdict::Refused:
            return Failed(DownloadFailure::BadRedirect, status);
        }
    }
}

} // namespace

DownloadResult DownloadPageToFile(const std::string& sUrl, const std::string& sFile,
                                  const DownloadBounds& bounds) {
    RemovePageFiles(sFile);
    std::string body;
    DownloadResult result = Fetch(sUrl, body, bounds);
    if (result.complete && !WritePageFile(sFile, body)) {
        result.complete = false;
    }
    return result;
}

} // namespace platform
