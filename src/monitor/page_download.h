// Fetching the IP-check page into a file: the platform's URL download service on Windows,
// libcurl on POSIX. Include from portable code; the backends live in page_download_*.cpp.
#pragma once

#include <chrono>
#include <cstddef>
#include <string>

namespace platform {

// How long a fetch may take and how large its answer may be. A fetch past either bound counts
// as failed. The defaults are the product's; tests pass shorter ones.
struct DownloadBounds {
    std::chrono::milliseconds time{60'000};
    std::size_t bytes = 64 * 1024;
};

// Fetches sUrl into sFile (overwriting it). True when the whole answer arrived within the
// bounds. On false no file is left behind. Redirects are followed only between http and
// https, at most 5 in a row. Never reports anything.
bool DownloadPageToFile(const std::string& sUrl, const std::string& sFile,
                        const DownloadBounds& bounds = {});

// Removes the page's entry from the platform's Internet cache (Windows); POSIX keeps no cache.
void DeletePageCacheEntry(const std::string& sUrl);

} // namespace platform
