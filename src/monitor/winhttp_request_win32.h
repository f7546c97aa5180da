// What the WinHTTP requests share (Windows): the session with the machine's proxy settings,
// the one deadline spread over WinHTTP's time-outs, the bounded read of an answer, and the
// worker thread that the caller waits for only until the deadline, since not every WinHTTP
// honours its time-outs while a server sends nothing. The page download and the OAuth token
// requests use it. Include only from *_win32.cpp files.
#pragma once

#include "common/win32_handle.h"
#include "common/windows_api.h"
#include "monitor/download_result.h"

#include <winhttp.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <functional>
#include <string>

namespace platform::winhttp {

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

DownloadResult Failed(DownloadFailure failure, int status = 0);

// What a failed WinHTTP call means for the request.
DownloadFailure FailureOfLastError(const Deadline& deadline, DownloadFailure otherwise);

// The machine's proxy settings: the automatic ones where the system has them, else those set
// for WinHTTP. Automatic redirects are off on the session.
InternetHandle OpenSession();

bool SetNumberOption(HINTERNET h, DWORD option, DWORD value);
bool SetTimeouts(HINTERNET h, const Deadline& deadline);

// A header's text; empty when it is absent.
std::wstring QueryHeader(HINTERNET request, DWORD which);
int QueryStatus(HINTERNET request);

// Reads the body of a received response, at most one byte past limit.
DownloadResult ReadBody(HINTERNET request, int status, std::string& body, std::size_t limit,
                        const Deadline& deadline, const std::atomic<bool>& abandoned);

// Runs fetch on a worker thread and waits for it until the deadline. On time the worker's body
// is moved into body; a late worker is abandoned (its flag set) and the result is TimedOut.
using FetchJob =
    std::function<DownloadResult(std::string& body, const std::atomic<bool>& abandoned)>;
DownloadResult RunWithinDeadline(const Deadline& deadline, FetchJob fetch, std::string& body);

} // namespace platform::winhttp
