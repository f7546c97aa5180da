// Windows: both primitives from BCrypt (CNG).
#include "oauth/crypto.h"

#include "common/windows_api.h"

#include <bcrypt.h>

namespace oauth {

namespace {

class AlgorithmHandle {
public:
    explicit AlgorithmHandle(const wchar_t* algorithm) {
        if (::BCryptOpenAlgorithmProvider(&h_, algorithm, nullptr, 0) < 0) {
            h_ = nullptr;
        }
    }
    ~AlgorithmHandle() {
        if (h_ != nullptr) {
            ::BCryptCloseAlgorithmProvider(h_, 0);
        }
    }
    AlgorithmHandle(const AlgorithmHandle&) = delete;
    AlgorithmHandle& operator=(const AlgorithmHandle&) = delete;
    BCRYPT_ALG_HANDLE get() const { return h_; }

private:
    BCRYPT_ALG_HANDLE h_ = nullptr;
};

class HashHandle {
public:
    explicit HashHandle(BCRYPT_ALG_HANDLE algorithm) {
        if (::BCryptCreateHash(algorithm, &h_, nullptr, 0, nullptr, 0, 0) < 0) {
            h_ = nullptr;
        }
    }
    ~HashHandle() {
        if (h_ != nullptr) {
            ::BCryptDestroyHash(h_);
        }
    }
    HashHandle(const HashHandle&) = delete;
    HashHandle& operator=(const HashHandle&) = delete;
    BCRYPT_HASH_HANDLE get() const { return h_; }

private:
    BCRYPT_HASH_HANDLE h_ = nullptr;
};

} // namespace

std::optional<std::string> RandomBytes(std::size_t count) {
    std::string bytes(count, '\0');
    if (::BCryptGenRandom(nullptr, reinterpret_cast<PUCHAR>(bytes.data()),
                          static_cast<ULONG>(count), BCRYPT_USE_SYSTEM_PREFERRED_RNG) < 0) {
        return std::nullopt;
    }
    return bytes;
}

std::optional<std::string> Sha256(std::string_view data) {
    const AlgorithmHandle algorithm(BCRYPT_SHA256_ALGORITHM);
    if (algorithm.get() == nullptr) {
        return std::nullopt;
    }
    const HashHandle hash(algorithm.get());
    std::string digest(32, '\0');
    if (hash.get() == nullptr ||
        ::BCryptHashData(hash.get(), reinterpret_cast<PUCHAR>(const_cast<char*>(data.data())),
                         static_cast<ULONG>(data.size()), 0) < 0 ||
        ::BCryptFinishHash(hash.get(), reinterpret_cast<PUCHAR>(digest.data()),
                           static_cast<ULONG>(digest.size()), 0) < 0) {
        return std::nullopt;
    }
    return digest;
}

} // namespace oauth
