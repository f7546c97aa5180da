#include "monitor/curl_library_posix.h"

#include <cstdlib>
#include <dlfcn.h>
#include <optional>
#include <type_traits>

namespace posix {

const CurlApi* LoadCurl() {
    static const std::optional<CurlApi> api = []() -> std::optional<CurlApi> {
        void* lib = ::dlopen("libcurl.so.4", RTLD_NOW | RTLD_LOCAL);
        if (lib == nullptr) {
            return std::nullopt;
        }
        CurlApi a{};
        bool ok = true;
        auto bind = [&](auto& fn, const char* name) {
            void* symbol = ::dlsym(lib, name);
            ok = ok && symbol != nullptr;
            fn = reinterpret_cast<std::remove_reference_t<decltype(fn)>>(symbol);
        };
        bind(a.global_init, "curl_global_init");
        bind(a.global_cleanup, "curl_global_cleanup");
        bind(a.easy_init, "curl_easy_init");
        bind(a.easy_setopt, "curl_easy_setopt");
        bind(a.easy_perform, "curl_easy_perform");
        bind(a.easy_getinfo, "curl_easy_getinfo");
        bind(a.easy_cleanup, "curl_easy_cleanup");
        if (!ok || a.global_init(CURL_GLOBAL_DEFAULT) != CURLE_OK) {
            return std::nullopt;
        }
        return a;
    }();
    return api ? &*api : nullptr;
}

std::size_t WriteToSink(char* data, std::size_t size, std::size_t count, void* userdata) {
    auto* sink = static_cast<Sink*>(userdata);
    const std::size_t n = size * count;
    if (n > sink->limit - sink->body->size()) {
        return 0;
    }
    sink->body->append(data, n);
    return n;
}

bool UseTrustStoreFromEnvironment(const CurlApi& api, CURL* h) {
    if (const char* file = std::getenv("SSL_CERT_FILE"); file != nullptr && *file != '\0') {
        if (api.easy_setopt(h, CURLOPT_CAINFO, file) != CURLE_OK) {
            return false;
        }
    }
    if (const char* dir = std::getenv("SSL_CERT_DIR"); dir != nullptr && *dir != '\0') {
        if (api.easy_setopt(h, CURLOPT_CAPATH, dir) != CURLE_OK) {
            return false;
        }
    }
    return true;
}

} // namespace posix
