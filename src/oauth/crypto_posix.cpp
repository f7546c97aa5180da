// POSIX: getrandom for the random bytes; SHA-256 from OpenSSL's libcrypto, loaded by its
// system name only when a sign-in needs it (as libcurl is), so the check run never maps it.
#include "oauth/crypto.h"

#include <cerrno>
#include <dlfcn.h>
#include <sys/random.h>

namespace oauth {

std::optional<std::string> RandomBytes(std::size_t count) {
    std::string bytes(count, '\0');
    std::size_t filled = 0;
    while (filled < count) {
        const ssize_t n = ::getrandom(bytes.data() + filled, count - filled, 0);
        if (n < 0) {
            if (errno == EINTR) {
                continue;
            }
            return std::nullopt;
        }
        filled += static_cast<std::size_t>(n);
    }
    return bytes;
}

namespace {

using EvpMd = void;
using EvpDigest = int (*)(const void*, std::size_t, unsigned char*, unsigned int*, const EvpMd*,
                          void*);
using EvpSha256 = const EvpMd* (*)();

struct Libcrypto {
    EvpDigest digest = nullptr;
    EvpSha256 sha256 = nullptr;
};

const Libcrypto* LoadLibcrypto() {
    static const Libcrypto api = [] {
        Libcrypto a;
        for (const char* name : {"libcrypto.so.3", "libcrypto.so.1.1"}) {
            void* lib = ::dlopen(name, RTLD_NOW | RTLD_LOCAL);
            if (lib != nullptr) {
                a.digest = reinterpret_cast<EvpDigest>(::dlsym(lib, "EVP_Digest"));
                a.sha256 = reinterpret_cast<EvpSha256>(::dlsym(lib, "EVP_sha256"));
                break;
            }
        }
        return a;
    }();
    return api.digest != nullptr && api.sha256 != nullptr ? &api : nullptr;
}

} // namespace

std::optional<std::string> Sha256(std::string_view data) {
    const Libcrypto* api = LoadLibcrypto();
    if (api == nullptr) {
        return std::nullopt;
    }
    unsigned char digest[32];
    unsigned int size = sizeof digest;
    if (api->digest(data.data(), data.size(), digest, &size, api->sha256(), nullptr) != 1 ||
        size != sizeof digest) {
        return std::nullopt;
    }
    return std::string(reinterpret_cast<const char*>(digest), size);
}

} // namespace oauth
