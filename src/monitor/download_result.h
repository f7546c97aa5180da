// What one page download came to: whether the whole answer arrived, its HTTP status, and why
// it failed otherwise. Shared by both download backends and the response reader.
#pragma once

#include <string>

namespace platform {

enum class DownloadFailure {
    None,
    CannotConnect,    // no connection (or no secure one) to the server
    TimedOut,         // the lookup's time bound passed
    TooLarge,         // the headers or the body went past their bound
    TooManyRedirects, // more than five in a row
    BadRedirect,      // a redirect to anything but http or https, or without a usable address
    Malformed,        // not an HTTP answer this client takes
    Truncated,        // the connection ended before the answer did
    InsideAddress,    // a page on the Internet led to an address inside the network
    NoFamilyAddress,  // the host has no address of the family the lookup must use
};

struct DownloadResult {
    // The whole answer arrived within the bounds and was written to the file.
    bool complete = false;
    // The final HTTP status; 0 when none arrived. An error status with a whole body is
    // complete: the caller decides what the answer is worth.
    int status = 0;
    DownloadFailure failure = DownloadFailure::None;
    // InsideAddress: the address refused, as the connection reported it.
    std::string refused;
};

// A short English description for a diagnostic message: "cannot connect", "time-out",
// "HTTP status 500", "complete", and for InsideAddress the address refused and its scope.
std::string DescribeDownload(const DownloadResult& result);

} // namespace platform
