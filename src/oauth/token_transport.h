// The one kind of request the sign-in and the renewal make: a form POSTed to a provider's
// endpoint over verified https, following no redirect (a 307 would send the form, with its
// code or refresh token, on to wherever it points), within one deadline and a size bound.
// WinHTTP on Windows, libcurl on POSIX (loaded at run time, trust as for the check pages).
#pragma once

#include "oauth/oauth.h"

#include <functional>
#include <string>

namespace oauth {

struct HttpAnswer {
    bool complete = false; // an answer arrived whole, within the bounds
    int status = 0;        // its HTTP status
    std::string body;
    std::string failure; // why not complete, for the log
};

// The transport as the flows use it, so tests can feed them answers.
using PostForm = std::function<HttpAnswer(const std::string& url, const std::string& form,
                                          const RequestBounds&)>;

// The platform's transport. Only an https address is asked; anything else fails unsent.
HttpAnswer PostFormHttps(const std::string& url, const std::string& form,
                         const RequestBounds& bounds);

} // namespace oauth
