// Windows token requests: WinHTTP as the page download uses it (the shared session, deadline
// and bounded read), a POST of the form, no redirect, the certificate checked by WinHTTP's
// default secure behaviour. Nothing of the form or the answer is logged here.
#include "oauth/token_transport.h"

#include "common/win32_text.h"
#include "monitor/http_url.h"
#include "monitor/winhttp_request_win32.h"

namespace oauth {

namespace {

using namespace platform::winhttp;
using platform::DownloadFailure;
using platform::DownloadResult;

DownloadResult Post(const http::Url& url, const std::string& form, std::string& body,
                    std::size_t limit, const Deadline& deadline,
                    const std::atomic<bool>& abandoned) {
    const InternetHandle session = OpenSession();
    if (!session || !SetTimeouts(session.get(), deadline)) {
        return Failed(DownloadFailure::CannotConnect);
    }
    const InternetHandle connection(
        ::WinHttpConnect(session.get(), win32::AnsiToWide(url.host).c_str(), url.port, 0));
    const std::wstring target = win32::AnsiToWide(url.target);
    const InternetHandle request(
        connection ? ::WinHttpOpenRequest(connection.get(), L"POST", target.c_str(), nullptr,
                                          WINHTTP_NO_REFERER, WINHTTP_DEFAULT_ACCEPT_TYPES,
                                          WINHTTP_FLAG_SECURE)
                   : nullptr);
    if (!request ||
        !SetNumberOption(request.get(), WINHTTP_OPTION_DISABLE_FEATURE,
                         WINHTTP_DISABLE_REDIRECTS | WINHTTP_DISABLE_COOKIES |
                             WINHTTP_DISABLE_KEEP_ALIVE) ||
        !SetTimeouts(request.get(), deadline)) {
        return Failed(FailureOfLastError(deadline, DownloadFailure::CannotConnect));
    }
    const wchar_t* headers = L"Content-Type: application/x-www-form-urlencoded\r\n";
    if (!::WinHttpSendRequest(request.get(), headers, static_cast<DWORD>(-1L),
                              const_cast<char*>(form.data()), static_cast<DWORD>(form.size()),
                              static_cast<DWORD>(form.size()), 0) ||
        !::WinHttpReceiveResponse(request.get(), nullptr)) {
        return Failed(FailureOfLastError(deadline, DownloadFailure::CannotConnect));
    }
    const int status = QueryStatus(request.get());
    if (status >= 300 && status < 400) {
        return Failed(DownloadFailure::BadRedirect, status);
    }
    return ReadBody(request.get(), status, body, limit, deadline, abandoned);
}

std::string Describe(const DownloadResult& result) {
    switch (result.failure) {
    case DownloadFailure::TimedOut:
        return "no answer in time";
    case DownloadFailure::TooLarge:
        return "the answer is too large";
    case DownloadFailure::BadRedirect:
        return "the server answered with a redirect (HTTP " + std::to_string(result.status) +
               "), which is not followed";
    case DownloadFailure::Malformed:
        return "the server's answer is not HTTP";
    case DownloadFailure::Truncated:
        return "the answer was cut short";
    default:
        return "the server cannot be reached over verified https";
    }
}

} // namespace

HttpAnswer PostFormHttps(const std::string& url, const std::string& form,
                         const RequestBounds& bounds) {
    const auto parsed = http::ParseUrl(url);
    if (!parsed || !parsed->secure) {
        return {false, 0, {}, "the address is not https"};
    }
    const Deadline deadline(bounds.time);
    const std::size_t limit = bounds.bytes;
    std::string body;
    const DownloadResult result = RunWithinDeadline(
        deadline,
        [target = *parsed, form, limit, deadline](std::string& fetched,
                                                  const std::atomic<bool>& abandoned) {
            return Post(target, form, fetched, limit, deadline, abandoned);
        },
        body);
    if (!result.complete) {
        return {false, result.status, {}, Describe(result)};
    }
    return {true, result.status, std::move(body), {}};
}

} // namespace oauth
