// POSIX token requests: libcurl, https only, no redirect, one deadline, the answer held in
// memory up to the bound. Nothing of the form or the answer is logged here.
#include "oauth/token_transport.h"

#include "common/text.h"
#include "monitor/curl_library_posix.h"

namespace oauth {

namespace {

HttpAnswer Failed(std::string why, int status = 0) {
    return {false, status, {}, std::move(why)};
}

std::string Describe(CURLcode code) {
    switch (code) {
    case CURLE_OPERATION_TIMEDOUT:
        return "no answer in time";
    case CURLE_WRITE_ERROR:
    case CURLE_FILESIZE_EXCEEDED:
        return "the answer is too large";
    case CURLE_PEER_FAILED_VERIFICATION:
    case CURLE_SSL_CACERT_BADFILE:
    case CURLE_SSL_CONNECT_ERROR:
        return "the server's certificate could not be verified";
    case CURLE_COULDNT_RESOLVE_HOST:
        return "the server's name does not resolve";
    case CURLE_COULDNT_CONNECT:
        return "the server cannot be reached";
    default:
        return "the request failed (libcurl " + std::to_string(static_cast<int>(code)) + ")";
    }
}

} // namespace

HttpAnswer PostFormHttps(const std::string& url, const std::string& form,
                         const RequestBounds& bounds) {
    if (text::ToLowerAscii(url.substr(0, 8)) != "https://") {
        return Failed("the address is not https");
    }
    const posix::CurlApi* api = posix::LoadCurl();
    if (api == nullptr) {
        return Failed("libcurl cannot be loaded");
    }
    posix::CurlEasy easy(*api);
    CURL* h = easy.get();
    if (h == nullptr) {
        return Failed("libcurl cannot be loaded");
    }
    HttpAnswer answer;
    posix::Sink sink{&answer.body, bounds.bytes};
    auto set = [&](CURLoption option, auto value) {
        return api->easy_setopt(h, option, value) == CURLE_OK;
    };
    const bool ok = set(CURLOPT_URL, url.c_str()) && set(CURLOPT_PROTOCOLS_STR, "https") &&
                    set(CURLOPT_FOLLOWLOCATION, 0L) && set(CURLOPT_SSL_VERIFYPEER, 1L) &&
                    set(CURLOPT_SSL_VERIFYHOST, 2L) &&
                    set(CURLOPT_TIMEOUT_MS, static_cast<long>(bounds.time.count())) &&
                    set(CURLOPT_NOSIGNAL, 1L) &&
                    set(CURLOPT_MAXFILESIZE_LARGE, static_cast<curl_off_t>(bounds.bytes)) &&
                    set(CURLOPT_POSTFIELDSIZE_LARGE, static_cast<curl_off_t>(form.size())) &&
                    set(CURLOPT_POSTFIELDS, form.c_str()) && set(CURLOPT_USERAGENT, "Addrwatch") &&
                    set(CURLOPT_WRITEFUNCTION, &posix::WriteToSink) &&
                    set(CURLOPT_WRITEDATA, static_cast<void*>(&sink)) &&
                    posix::UseTrustStoreFromEnvironment(*api, h);
    if (!ok) {
        return Failed("libcurl refused an option");
    }
    const CURLcode code = api->easy_perform(h);
    long status = 0;
    api->easy_getinfo(h, CURLINFO_RESPONSE_CODE, &status);
    if (code != CURLE_OK) {
        return Failed(Describe(code), static_cast<int>(status));
    }
    answer.status = static_cast<int>(status);
    if (status >= 300 && status < 400) {
        return Failed("the server answered with a redirect (HTTP " + std::to_string(status) +
                          "), which is not followed",
                      answer.status);
    }
    answer.complete = true;
    return answer;
}

} // namespace oauth
