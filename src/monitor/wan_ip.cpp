// The WAN address lookup: fetch each listed IP-check page into "WAN.IP" until one's last line
// is a usable address.
#include "monitor/wan_ip.h"

#include "common/dprint.h"
#include "common/file_checks.h"
#include "monitor/address_scope.h"
#include "monitor/page_list.h"
#include "settings/app_settings.h"
#include "settings/ini_file.h"

#include <algorithm>
#include <cstdio>
#include <utility>

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

// The address one page gives under the rule, or why it gives none.
struct PageAnswer {
    std::optional<std::string> address;
    std::string reason;
};

PageAnswer AskPage(const std::string& sPage, AddressRule rule, bool bClearCache,
                   const platform::DownloadBounds& bounds) {
    const std::string sFile = CommonModule::AppPath() + kWanIpFileName;
    DeleteFileIfPresent(sFile);
    if (bClearCache) {
        platform::DeletePageCacheEntry(sPage);
    }
    const platform::DownloadResult download = platform::DownloadPageToFile(sPage, sFile, bounds);
    // A failed fetch leaves no file, and a file left by an interrupted run was deleted above.
    const bool arrived = download.complete && CommonModule::DoesFileExist(sFile);
    std::string sLine;
    if (arrived) {
        sLine = LastLineOf(ReadFileBytes(sFile));
    }
    DeleteFileIfPresent(sFile);
    if (!arrived) {
        return {std::nullopt,
                download.complete ? "answer not saved" : platform::DescribeDownload(download)};
    }
    if (rule == AddressRule::Off) {
        if (sLine.empty()) {
            return {std::nullopt, "empty answer"};
        }
        return {std::move(sLine), {}};
    }
    // An error page may well carry an address-like line (a proxy's own, say).
    if (download.status >= 400) {
        return {std::nullopt, platform::DescribeDownload(download)};
    }
    std::optional<std::string> address = ApplyAddressRule(rule, sLine);
    if (!address) {
        return {std::nullopt, "not an address"};
    }
    // An answer from inside the network (or none at all, 0.0.0.0) is not the WAN side.
    const AddressScope scope = ScopeOfText(*address).value_or(AddressScope::Public);
    if (scope != AddressScope::Public) {
        return {std::nullopt,
                std::string("not a WAN address: ") + ScopeName(scope) + " " + *address};
    }
    return {std::move(address), {}};
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

WanIPLookup LookupWanIPPages(const std::vector<std::string>& pages, AddressRule rule,
                             bool bClearCache, const LookupBounds& bounds) {
    using Clock = std::chrono::steady_clock;
    const Clock::time_point deadline = Clock::now() + bounds.total;
    WanIPLookup lookup;
    for (const std::string& page : pages) {
        const auto left =
            std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now());
        if (left <= std::chrono::milliseconds::zero()) {
            lookup.failed.push_back({page, "not asked: the lookup's time bound passed"});
            continue;
        }
        platform::DownloadBounds pageBounds = bounds.page;
        pageBounds.time = std::min(pageBounds.time, left);
        PageAnswer answer = AskPage(page, rule, bClearCache, pageBounds);
        if (answer.address) {
            lookup.address = std::move(answer.address);
            break;
        }
        lookup.failed.push_back({page, std::move(answer.reason)});
    }
    return lookup;
}

std::string LookupWanIP(const std::string& sPage, bool bClearCache,
                        const platform::DownloadBounds& bounds) {
    return LookupWanIPPages({sPage}, AddressRule::Off, bClearCache, {bounds, bounds.time})
        .address.value_or(kUnknownAddress);
}

std::string NoAddressMessage(const std::vector<FailedPage>& failed) {
    std::string message = "modGetExternalIP\\GetWanIP: no check page gave an address, nothing "
                          "changed:";
    if (failed.empty()) {
        message += " no page listed";
    }
    for (std::size_t i = 0; i < failed.size(); ++i) {
        message += (i == 0 ? " " : "; ") + failed[i].page + " (" + failed[i].reason + ")";
    }
    return message;
}

namespace {

std::string ReasonsOf(const std::vector<FailedPage>& failed) {
    if (failed.empty()) {
        return "no page listed";
    }
    std::string reasons;
    for (const FailedPage& f : failed) {
        reasons += (reasons.empty() ? "" : "; ") + f.reason;
    }
    return reasons;
}

// One family's lookup over the pages a setting lists, the cut-entry rule included.
FamilyLookup LookupFamily(const char* key, const std::string& value, AddressRule rule,
                          platform::AddressFamily family) {
    const PageList list = ReadPageList(value, CommonModule::kMaxIniValueLength);
    if (!list.cut.empty()) {
        CommonModule::DPrint("modGetExternalIP\\GetWanIP: " + std::string(key) + " fills the " +
                             std::to_string(CommonModule::kMaxIniValueLength) +
                             " characters a setting is read with, so its last entry may be cut; "
                             "not asked: " +
                             list.cut);
    }
    LookupBounds bounds;
    bounds.page.family = family;
    WanIPLookup lookup = LookupWanIPPages(list.pages, rule, true, bounds);
    if (lookup.address) {
        return {std::move(lookup.address), {}, std::move(lookup.failed)};
    }
    if (rule == AddressRule::Off) {
        return {std::string(kUnknownAddress), {}, std::move(lookup.failed)};
    }
    CommonModule::DPrint(NoAddressMessage(lookup.failed));
    std::string reasons = ReasonsOf(lookup.failed);
    return {std::nullopt, std::move(reasons), std::move(lookup.failed)};
}

} // namespace

std::optional<std::string> GetWanIP() {
    std::vector<FailedPage> failed;
    return GetWanIP(failed);
}

std::optional<std::string> GetWanIP(std::vector<FailedPage>& failed) {
    const AddressRule rule = AddressRuleFromSetting(
        CommonModule::ReadINI(CommonModule::sAppINI, "General", "ValidateAddress"));
    FamilyLookup lookup =
        LookupFamily("WhatIsMyIP", WanIPPageAddress(), rule, platform::AddressFamily::Any);
    failed = std::move(lookup.failed);
    return std::move(lookup.address);
}

std::string WanIPv6PageList() {
    return CommonModule::ReadINI(CommonModule::sAppINI, "General", "WhatIsMyIPv6");
}

FamilyLookup GetWanIPv4BesideIPv6() {
    AddressRule rule = AddressRuleFromSetting(
        CommonModule::ReadINI(CommonModule::sAppINI, "General", "ValidateAddress"));
    if (rule == AddressRule::Any) {
        rule = AddressRule::IPv4;
    }
    const platform::AddressFamily family =
        rule == AddressRule::IPv6 ? platform::AddressFamily::Any : platform::AddressFamily::IPv4;
    return LookupFamily("WhatIsMyIP", WanIPPageAddress(), rule, family);
}

FamilyLookup GetWanIPv6() {
    return LookupFamily("WhatIsMyIPv6", WanIPv6PageList(), AddressRule::IPv6,
                        platform::AddressFamily::IPv6);
}

std::string GetWanIPDefault() {
    return LookupWanIP(kDefaultIpCheckPage, false);
}

} // namespace modGetExternalIP
