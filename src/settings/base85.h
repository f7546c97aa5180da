// modBase85: the protected (obfuscated) form of the SMTP password, and its Ascii85 codec.
//
// Text is taken as 8-bit codes: ANSI code page bytes on Windows, UTF-8 bytes on POSIX, one code
// per byte. The stride parameters of the byte-level routines read source positions 0, s, 2s...
#pragma once

#include "common/vb_error.h"

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace modBase85 {

// The fixed key every caller passes.
inline constexpr std::string_view kPasswordKey = "4726150";

// "a" + text + "a", exclusive-or with the repeating key, in Ascii85 without start marker.
std::string EncryptText(std::string_view text, std::string_view key);

// The inverse of EncryptText. Fails with error 5 (invalid argument) when the decoding has fewer
// than two characters, which is what every value that is not a valid encoding gives.
Outcome<std::string> DecryptText(std::string_view stored, std::string_view key);

std::string Ascii85EncodeText(std::string_view text, bool startMarker);
// The decoded text; empty when the input is malformed.
std::string Ascii85DecodeText(std::string_view encoded);

bool Ascii85EncodeBytes(const std::vector<std::uint8_t>& source, std::vector<std::uint8_t>& output,
                        bool startMarker, std::size_t stride = 1);
bool Ascii85DecodeBytes(const std::vector<std::uint8_t>& source, std::vector<std::uint8_t>& output,
                        std::size_t stride = 1);
// Writes one group at position: "z" for a zero full group, else five digits (a partial group
// never uses "z"; the caller keeps only its first n + 1 digits).
void EncodeGroup(std::uint32_t& value, std::vector<std::uint8_t>& output, std::size_t& position,
                 bool partialGroup);

} // namespace modBase85
