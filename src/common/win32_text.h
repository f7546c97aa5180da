// Conversions between the program's ANSI text and the wide text some Win32 calls need. Include
// only from *_win32.cpp files.
#pragma once

#include "common/windows_api.h"

#include <string>
#include <string_view>

namespace win32 {

inline std::wstring AnsiToWide(std::string_view s) {
    const int n =
        ::MultiByteToWideChar(CP_ACP, 0, s.data(), static_cast<int>(s.size()), nullptr, 0);
    std::wstring w(static_cast<std::size_t>(n > 0 ? n : 0), L'\0');
    if (n > 0) {
        ::MultiByteToWideChar(CP_ACP, 0, s.data(), static_cast<int>(s.size()), w.data(), n);
    }
    return w;
}

inline std::string WideToAnsi(std::wstring_view w) {
    const int n = ::WideCharToMultiByte(CP_ACP, 0, w.data(), static_cast<int>(w.size()), nullptr, 0,
                                        nullptr, nullptr);
    std::string s(static_cast<std::size_t>(n > 0 ? n : 0), '\0');
    if (n > 0) {
        ::WideCharToMultiByte(CP_ACP, 0, w.data(), static_cast<int>(w.size()), s.data(), n, nullptr,
                              nullptr);
    }
    return s;
}

} // namespace win32
