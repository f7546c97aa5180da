// The system's own address converters, as a second opinion on the program's portable ones.
#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <string>

namespace fuzzing {

std::optional<std::array<std::uint8_t, 4>> SystemParseIPv4(const std::string& text);
std::optional<std::array<std::uint8_t, 16>> SystemParseIPv6(const std::string& text);
std::string SystemFormatIPv6(const std::array<std::uint8_t, 16>& address);

} // namespace fuzzing
