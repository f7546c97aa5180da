#include "monitor/download_result.h"

#include "monitor/address_scope.h"

namespace platform {

std::string DescribeDownload(const DownloadResult& result) {
    switch (result.failure) {
    case DownloadFailure::None:
        break;
    case DownloadFailure::CannotConnect:
        return "cannot connect";
    case DownloadFailure::TimedOut:
        return "time-out";
    case DownloadFailure::TooLarge:
        return "answer too large";
    case DownloadFailure::TooManyRedirects:
        return "too many redirects";
    case DownloadFailure::BadRedirect:
        return "redirect not followed";
    case DownloadFailure::Malformed:
        return "malformed answer";
    case DownloadFailure::Truncated:
        return "answer cut short";
    case DownloadFailure::NoFamilyAddress:
        return "no address of the family asked for";
    case DownloadFailure::InsideAddress: {
        const auto scope = modGetExternalIP::ScopeOfText(result.refused);
        return "redirect from a public address refused: " + result.refused + " is " +
               (scope ? modGetExternalIP::ScopeName(*scope) : "not public");
    }
    }
    if (!result.complete) {
        return "failed";
    }
    if (result.status >= 400) {
        return "HTTP status " + std::to_string(result.status);
    }
    return "complete";
}

} // namespace platform
