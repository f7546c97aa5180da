// The WAN address lookup: fetch the IP-check page into "WAN.IP", keep its last line.
#include "monitor/wan_ip.h"

#include "common/file_checks.h"
#include "settings/app_settings.h"
#include "settings/ini_file.h"

#include <cstdio>

namespace modGetExternalIP {

namespace {

// The file's bytes; empty when it cannot be read. The answer is bounded by the download, so the
// whole file is small.
std::string ReadFileBytes(const std::string& sFile) {
    std::string bytes;
    std::FILE* f = std::fopen(sFile.c_str(), "rb");
    if (f == nullptr) {
        return bytes;
    }
    char buffer[4096];
    std::size_t n = 0;
    while ((n = std::fread(buffer, 1, sizeof buffer, f)) > 0) {
        bytes.append(buffer, n);
    }
    std::fclose(f);
    return bytes;
}

void DeleteFileIfPresent(const std::string& sFile) {
    if (CommonModule::DoesFileExist(sFile)) {
        std::remove(sFile.c_str());
    }
}

} // namespace

std::string LastLineOf(std::string_view text) {
    std::string_view last;
    std::size_t start = 0;
    while (start < text.size()) {
        const std::size_t cr = text.find('\r', start);
        if (cr == std::string_view::npos) {
            last = text.substr(start);
            break;
        }
        last = text.substr(start, cr - start);
        start = cr + 1;
        if (start < text.size() && text[start] == '\n') {
            ++start;
        }
    }
    return std::string(last);
}

std::string WanIPPageAddress() {
    std::string sPage = CommonModule::ReadINI(CommonModule::sAppINI, "General", "WhatIsMyIP");
    if (sPage.empty()) {
        sPage = kDefaultIpCheckPage;
    }
    return sPage;
}

std::string LookupWanIP(const std::string& sPage, bool bClearCache,
                        const platform::DownloadBounds& bounds) {
    const std::string sFile = CommonModule::AppPath() + kWanIpFileName;
    DeleteFileIfPresent(sFile);
    if (bClearCache) {
        platform::DeletePageCacheEntry(sPage);
    }
    // Only the file's presence matters below: a failed fetch leaves none.
    platform::DownloadPageToFile(sPage, sFile, bounds);
    std::string sLine;
    if (CommonModule::DoesFileExist(sFile)) {
        sLine = LastLineOf(ReadFileBytes(sFile));
    }
    DeleteFileIfPresent(sFile);
    return sLine.empty() ? std::string(kUnknownAddress) : sLine;
}

std::string GetWanIP() {
    return LookupWanIP(WanIPPageAddress(), true);
}

std::string GetWanIPDefault() {
    return LookupWanIP(kDefaultIpCheckPage, false);
}

} // namespace modGetExternalIP
