// RAII owners for Win32 handles. Include only from *_win32.cpp files.
#pragma once

#include "common/windows_api.h"

#include <utility>

namespace win32 {

// Owns one handle and releases it with Close exactly once. Copies are deleted; moves transfer.
template <typename H, auto Close, auto Invalid = H{}>
class UniqueHandle {
public:
    UniqueHandle() = default;
    explicit UniqueHandle(H h) : h_(h) {}
    UniqueHandle(const UniqueHandle&) = delete;
    UniqueHandle& operator=(const UniqueHandle&) = delete;
    UniqueHandle(UniqueHandle&& o) noexcept : h_(std::exchange(o.h_, Invalid)) {}
    UniqueHandle& operator=(UniqueHandle&& o) noexcept {
        if (this != &o) {
            reset(std::exchange(o.h_, Invalid));
        }
        return *this;
    }
    ~UniqueHandle() { reset(); }

    H get() const { return h_; }
    explicit operator bool() const { return h_ != Invalid; }
    void reset(H h = Invalid) {
        if (h_ != Invalid) {
            Close(h_);
        }
        h_ = h;
    }
    H release() { return std::exchange(h_, Invalid); }

private:
    H h_ = Invalid;
};

inline void CloseKernelHandle(HANDLE h) {
    ::CloseHandle(h);
}
inline void CloseRegistryKey(HKEY k) {
    ::RegCloseKey(k);
}

inline void FreeLocalMemory(HLOCAL m) {
    ::LocalFree(m);
}
inline void FreeAllocatedSid(PSID sid) {
    ::FreeSid(sid);
}

using KernelHandle = UniqueHandle<HANDLE, CloseKernelHandle>;
// Blocks that the system allocated for the caller with LocalAlloc (string conversions, ...).
using LocalMemory = UniqueHandle<HLOCAL, FreeLocalMemory>;
// Identifiers from AllocateAndInitializeSid.
using AllocatedSid = UniqueHandle<PSID, FreeAllocatedSid>;
// Files from CreateFile report failure as INVALID_HANDLE_VALUE, not null.
struct FileHandle : UniqueHandle<HANDLE, CloseKernelHandle> {
    explicit FileHandle(HANDLE h) : UniqueHandle(h == INVALID_HANDLE_VALUE ? nullptr : h) {}
};
using RegistryKey = UniqueHandle<HKEY, CloseRegistryKey>;

} // namespace win32
