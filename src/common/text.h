// Small text helpers shared by the portable code.
//
// Text is held in std::string in the program's 8-bit code page: the ANSI code page on Windows
// (every Win32 call the program makes is an "A" entry point), UTF-8 bytes on POSIX.
#pragma once

#include <string>
#include <string_view>

namespace text {

// ASCII letters only; other bytes pass through, so code-page text is never mangled.
std::string ToLowerAscii(std::string_view s);
std::string ToUpperAscii(std::string_view s);
bool EqualsIgnoreCaseAscii(std::string_view a, std::string_view b);
bool ContainsLineBreak(std::string_view s);

// The value of a hexadecimal digit of either case; -1 for any other character.
constexpr int HexDigitValue(char c) {
    if (c >= '0' && c <= '9') {
        return c - '0';
    }
    if (c >= 'a' && c <= 'f') {
        return c - 'a' + 10;
    }
    if (c >= 'A' && c <= 'F') {
        return c - 'A' + 10;
    }
    return -1;
}

} // namespace text
