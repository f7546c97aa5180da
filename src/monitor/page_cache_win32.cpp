// The page's entry in the platform's Internet cache, which an earlier version of the download
// may have left. Apart from the download because wininet's and WinHTTP's headers clash.
#include "monitor/page_download.h"

#include "common/win32_text.h"
#include "common/windows_api.h"

#include <wininet.h>

namespace platform {

void DeletePageCacheEntry(const std::string& sUrl) {
    const std::wstring wide = win32::AnsiToWide(sUrl);
    ::DeleteUrlCacheEntryW(wide.c_str());
}

} // namespace platform
