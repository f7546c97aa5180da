// POSIX keeps no Internet cache.
#include "monitor/page_download.h"

namespace platform {

void DeletePageCacheEntry(const std::string&) {}

} // namespace platform
