// libcurl, loaded at run time the first time a request needs it (POSIX). Include only from
// *_posix.cpp files: the page download and the OAuth token requests share it.
#pragma once

#include <cstddef>
#include <curl/curl.h>
#include <string>

namespace posix {

struct CurlApi {
    CURLcode (*global_init)(long);
    void (*global_cleanup)();
    CURL* (*easy_init)();
    CURLcode (*easy_setopt)(CURL*, CURLoption, ...);
    CURLcode (*easy_perform)(CURL*);
    CURLcode (*easy_getinfo)(CURL*, CURLINFO, ...);
    void (*easy_cleanup)(CURL*);
};

// The library stays loaded for the life of the process once it was needed; null when it
// cannot be loaded.
const CurlApi* LoadCurl();

class CurlEasy {
public:
    explicit CurlEasy(const CurlApi& api) : api_(api), h_(api.easy_init()) {}
    ~CurlEasy() {
        if (h_ != nullptr) {
            api_.easy_cleanup(h_);
        }
    }
    CurlEasy(const CurlEasy&) = delete;
    CurlEasy& operator=(const CurlEasy&) = delete;
    CURL* get() const { return h_; }

private:
    const CurlApi& api_;
    CURL* h_;
};

// Where CURLOPT_WRITEFUNCTION = WriteToSink keeps the answer, up to limit bytes.
struct Sink {
    std::string* body;
    std::size_t limit;
};

// Returning less than offered makes libcurl stop with a write error: past the size bound.
std::size_t WriteToSink(char* data, std::size_t size, std::size_t count, void* userdata);

// The trust store OpenSSL's own variables name (SSL_CERT_FILE, SSL_CERT_DIR), as for the mail:
// libcurl only reads the paths it was built with. False when an option could not be set.
bool UseTrustStoreFromEnvironment(const CurlApi& api, CURL* h);

} // namespace posix
