// Fetching the IP-check page into a file: WinHTTP on Windows, a small HTTP/1.1 client with
// libcurl behind it on POSIX. Include from portable code; the backends live in
// page_download_*.cpp.
#pragma once

#include "monitor/download_result.h"

#include <chrono>
#include <cstddef>
#include <string>

namespace platform {

// Which kind of address a page's connections may use. Natively the own client and libcurl keep
// to it; WinHTTP cannot choose, so on Windows it is only advice.
enum class AddressFamily { Any, IPv4, IPv6 };

// How long a whole lookup may take (redirects included) and how large its answer may be. A
// fetch past either bound counts as failed. The defaults are the product's; tests pass shorter
// ones.
struct DownloadBounds {
    std::chrono::milliseconds time{60'000};
    std::size_t bytes = 64 * 1024;
    // The family of the connections, for a page that must answer over IPv4 or over IPv6.
    AddressFamily family = AddressFamily::Any;
    // A page asked over https may redirect only to https (a heartbeat's address holds a secret).
    bool secureStaysSecure = false;
};

// Fetches sUrl into sFile (overwriting it). The file is there only when the result is
// complete; a part file from an earlier, interrupted call is removed too. Redirects are
// followed only between http and https, at most 5 in a row, each page asked once. A body
// shorter than its Content-Length is Truncated. Never reports anything.
DownloadResult DownloadPageToFile(const std::string& sUrl, const std::string& sFile,
                                  const DownloadBounds& bounds = {});

// Removes the page's entry from the platform's Internet cache (Windows); POSIX keeps no cache.
void DeletePageCacheEntry(const std::string& sUrl);

} // namespace platform
