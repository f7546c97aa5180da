// Windows page download with WinHTTP, synchronously on a worker thread. WinHTTP keeps no cache,
// and the answer stays in memory until it is whole, so nothing of it reaches the disk before.
// Redirects are followed here rather than by WinHTTP so that the shared rule applies. The
// lookup's one deadline is spread over the per-request time-outs and checked between reads;
// the caller also waits for the worker only until then, since not every WinHTTP honours its
// time-outs while a server sends nothing. An abandoned worker writes no file. The certificate
// is checked by WinHTTP's default secure behaviour during the handshake, before the request
// goes out. Each request is judged by the rule of address_scope.h twice: by the target's own
// addresses as resolved here, before it is sent, and by the address its connection reached, in
// WinHTTP's connected-to-server callback, which ends a refused one by closing the request.
// Through a proxy that address is the proxy's, so a connection that reached none of the
// target's own addresses is judged by those. Only Win32 and the standard library here.
#include "monitor/page_download.h"

#include "common/winsock_session.h"

#include "common/win32_handle.h"
#include "common/win32_text.h"
#include "common/windows_api.h"
#include "monitor/address_scope.h"
#include "monitor/http_response_reader.h"
#include "monitor/http_url.h"
#include "monitor/page_file.h"
#include "monitor/winhttp_request_win32.h"

#include <winhttp.h>

#include <algorithm>
#include <atomic>
#include <cstring>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace platform {

namespace {

using namespace winhttp;

using modGetExternalIP::AddressScope;
using modGetExternalIP::IPv6Bytes;

// An address as 16 bytes, IPv4 as its mapped form, so addresses of both families compare.
std::optional<IPv6Bytes> AddressBytes(std::string_view text) {
    if (const auto v4 = modGetExternalIP::ParseIPv4(text)) {
        return IPv6Bytes{0, 0, 0,    0,    0,        0,        0,        0,
                         0, 0, 0xff, 0xff, (*v4)[0], (*v4)[1], (*v4)[2], (*v4)[3]};
    }
    return modGetExternalIP::ParseIPv6(text.substr(0, text.find('%')));
}

// The host's own addresses as this machine resolves them; empty when it does not.
std::vector<IPv6Bytes> ResolveHere(const std::string& host) {
    if (const auto literal = AddressBytes(host)) {
        return {*literal};
    }
    std::vector<IPv6Bytes> found;
    const win32::WinsockSession winsock;
    addrinfo hints{};
    hints.ai_family = AF_UNSPEC;
    hints.ai_socktype = SOCK_STREAM;
    addrinfo* list = nullptr;
    if (!winsock.ok() || ::getaddrinfo(host.c_str(), nullptr, &hints, &list) != 0) {
        return found;
    }
    for (const addrinfo* a = list; a != nullptr; a = a->ai_next) {
        IPv6Bytes address{};
        if (a->ai_family == AF_INET) {
            const auto* in = reinterpret_cast<const sockaddr_in*>(a->ai_addr);
            address[10] = address[11] = 0xff;
            std::memcpy(&address[12], &in->sin_addr, 4);
        } else if (a->ai_family == AF_INET6) {
            const auto* in6 = reinterpret_cast<const sockaddr_in6*>(a->ai_addr);
            std::memcpy(address.data(), &in6->sin6_addr, address.size());
        } else {
            continue;
        }
        found.push_back(address);
    }
    ::freeaddrinfo(list);
    return found;
}

// One request's connection check, reached from WinHTTP's callback through the context value.
struct ConnectionCheck {
    modGetExternalIP::ConnectionRule* rule;
    std::vector<IPv6Bytes> targets;
    std::string refused;
    bool closed = false;
};

// The scope of the target's addresses: public only when every one is, or when none resolved here
// (such a name lies beyond a proxy). `judged` names the first that is not.
AddressScope TargetScope(const std::vector<IPv6Bytes>& targets, std::string& judged) {
    for (const IPv6Bytes& target : targets) {
        const AddressScope scope = modGetExternalIP::ScopeOf(target);
        if (scope != AddressScope::Public) {
            judged = modGetExternalIP::FormatIPv6(target);
            return scope;
        }
    }
    return AddressScope::Public;
}

// The scope the rule judges for a connection to `connected`: its own, or through a proxy (an
// address that is none of the target's) that of the target's addresses.
AddressScope JudgedScope(const ConnectionCheck& check, const std::string& connected,
                         std::string& judged) {
    judged = connected;
    const auto address = AddressBytes(connected);
    const bool direct = address && std::find(check.targets.begin(), check.targets.end(),
                                             *address) != check.targets.end();
    if (direct || !address) {
        return modGetExternalIP::ScopeOfText(connected).value_or(AddressScope::Public);
    }
    return TargetScope(check.targets, judged);
}

void CALLBACK OnRequestStatus(HINTERNET request, DWORD_PTR context, DWORD status, LPVOID info,
                              DWORD) {
    if (status != WINHTTP_CALLBACK_STATUS_CONNECTED_TO_SERVER || context == 0 || info == nullptr) {
        return;
    }
    auto& check = *reinterpret_cast<ConnectionCheck*>(context);
    std::string judged;
    const AddressScope scope =
        JudgedScope(check, win32::WideToAnsi(static_cast<const wchar_t*>(info)), judged);
    if (!check.rule->Admit(scope)) {
        check.refused = judged;
        check.closed = true;
        // Nothing has been sent yet: closing the request ends it here.
        ::WinHttpCloseHandle(request);
    }
}

DownloadResult Fetch(const std::string& sUrl, std::string& body, const DownloadBounds& bounds,
                     const Deadline& deadline, const std::atomic<bool>& abandoned) {
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
    modGetExternalIP::ConnectionRule rule;
    for (;;) {
        const http::Url& url = chain.Current();
        ConnectionCheck check{&rule, ResolveHere(url.host), {}, false};
        // The target's own addresses first: Wine's WinHTTP still sends the request on a
        // connection whose handle the callback closed, so the callback alone cannot keep it in.
        if (std::string inside; !rule.Admit(TargetScope(check.targets, inside))) {
            DownloadResult refused = Failed(DownloadFailure::InsideAddress);
            refused.refused = inside;
            return refused;
        }
        if (!SetTimeouts(session.get(), deadline)) {
            return Failed(DownloadFailure::TimedOut);
        }
        const InternetHandle connection(
            ::WinHttpConnect(session.get(), win32::AnsiToWide(url.host).c_str(), url.port, 0));
        const std::wstring target = win32::AnsiToWide(url.target);
        InternetHandle request(
            connection ? ::WinHttpOpenRequest(connection.get(), L"GET", target.c_str(), nullptr,
                                              WINHTTP_NO_REFERER, WINHTTP_DEFAULT_ACCEPT_TYPES,
                                              url.secure ? WINHTTP_FLAG_SECURE : 0)
                       : nullptr);
        DWORD_PTR context = reinterpret_cast<DWORD_PTR>(&check);
        if (!request ||
            ::WinHttpSetStatusCallback(request.get(), &OnRequestStatus,
                                       WINHTTP_CALLBACK_FLAG_CONNECT_TO_SERVER,
                                       0) == WINHTTP_INVALID_STATUS_CALLBACK ||
            !::WinHttpSetOption(request.get(), WINHTTP_OPTION_CONTEXT_VALUE, &context,
                                sizeof context) ||
            !SetNumberOption(request.get(), WINHTTP_OPTION_DISABLE_FEATURE,
                             WINHTTP_DISABLE_REDIRECTS | WINHTTP_DISABLE_COOKIES |
                                 WINHTTP_DISABLE_KEEP_ALIVE) ||
            !SetTimeouts(request.get(), deadline)) {
            return Failed(FailureOfLastError(deadline, DownloadFailure::CannotConnect));
        }
        // The same bound on the head as the POSIX client's; not every WinHTTP knows the option.
        SetNumberOption(request.get(), WINHTTP_OPTION_MAX_RESPONSE_HEADER_SIZE,
                        static_cast<DWORD>(http::ResponseReader::kMaxHeadBytes));
        const bool sent = ::WinHttpSendRequest(request.get(), WINHTTP_NO_ADDITIONAL_HEADERS, 0,
                                               WINHTTP_NO_REQUEST_DATA, 0, 0, 0) != FALSE;
        if (check.closed) {
            // The callback closed it already.
            request.release();
            DownloadResult refused = Failed(DownloadFailure::InsideAddress);
            refused.refused = check.refused;
            return refused;
        }
        if (!sent || !::WinHttpReceiveResponse(request.get(), nullptr)) {
            return Failed(FailureOfLastError(deadline, DownloadFailure::CannotConnect));
        }
        const int status = QueryStatus(request.get());
        const std::string location =
            win32::WideToAnsi(QueryHeader(request.get(), WINHTTP_QUERY_LOCATION));
        if (!http::IsRedirectStatus(status) || location.empty()) {
            return ReadBody(request.get(), status, body, bounds.bytes, deadline, abandoned);
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
    const Deadline deadline(bounds.time);
    std::string body;
    DownloadResult result = winhttp::RunWithinDeadline(
        deadline,
        [sUrl, bounds, deadline](std::string& fetched, const std::atomic<bool>& abandoned) {
            return Fetch(sUrl, fetched, bounds, deadline, abandoned);
        },
        body);
    if (result.complete && !WritePageFile(sFile, body)) {
        result.complete = false;
    }
    return result;
}

} // namespace platform
