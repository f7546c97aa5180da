#include "monitor/winhttp_request_win32.h"

#include "common/win32_text.h"

#include <algorithm>
#include <charconv>
#include <condition_variable>
#include <memory>
#include <mutex>
#include <system_error>
#include <thread>

namespace platform::winhttp {

namespace {

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

// What the caller and the worker share; whichever lets go last frees it.
struct Handover {
    std::mutex mutex;
    std::condition_variable finished;
    bool done = false;
    std::atomic<bool> abandoned{false};
    DownloadResult result;
    std::string body;
};

} // namespace

DownloadResult Failed(DownloadFailure failure, int status) {
    return {false, status, failure, {}};
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
    if (session) {
        SetNumberOption(session.get(), WINHTTP_OPTION_REDIRECT_POLICY,
                        WINHTTP_OPTION_REDIRECT_POLICY_NEVER);
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

// Reads the body, at most one byte past the bound.
DownloadResult ReadBody(HINTERNET request, int status, std::string& body, std::size_t limit,
                        const Deadline& deadline, const std::atomic<bool>& abandoned) {
    const long long declared = DeclaredLength(request);
    if (declared > static_cast<long long>(limit)) {
        return Failed(DownloadFailure::TooLarge, status);
    }
    char buffer[8192];
    for (;;) {
        const int left = deadline.Left();
        if (left == 0 || abandoned) {
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
    return {true, status, DownloadFailure::None, {}};
}

DownloadResult RunWithinDeadline(const Deadline& deadline, FetchJob fetch, std::string& body) {
    const auto shared = std::make_shared<Handover>();
    std::thread worker;
    try {
        worker = std::thread([shared, fetch = std::move(fetch)] {
            std::string fetched;
            const DownloadResult result = fetch(fetched, shared->abandoned);
            const std::lock_guard lock(shared->mutex);
            shared->result = result;
            shared->body = std::move(fetched);
            shared->done = true;
            shared->finished.notify_all();
        });
    } catch (const std::system_error&) {
        return Failed(DownloadFailure::CannotConnect);
    }
    std::unique_lock lock(shared->mutex);
    const bool done = shared->finished.wait_for(lock, std::chrono::milliseconds(deadline.Left()),
                                                [&] { return shared->done; });
    if (!done) {
        shared->abandoned = true;
        lock.unlock();
        worker.detach();
        return Failed(DownloadFailure::TimedOut);
    }
    lock.unlock();
    worker.join();
    body = std::move(shared->body);
    return shared->result;
}

} // namespace platform::winhttp
