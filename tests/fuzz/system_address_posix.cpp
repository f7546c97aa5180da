// inet_pton and inet_ntop behind system_address.h.
#include "system_address.h"

#include <arpa/inet.h>

namespace fuzzing {

std::optional<std::array<std::uint8_t, 4>> SystemParseIPv4(const std::string& text) {
    std::array<std::uint8_t, 4> out{};
    return inet_pton(AF_INET, text.c_str(), out.data()) == 1 ? std::optional(out) : std::nullopt;
}

std::optional<std::array<std::uint8_t, 16>> SystemParseIPv6(const std::string& text) {
    std::array<std::uint8_t, 16> out{};
    return inet_pton(AF_INET6, text.c_str(), out.data()) == 1 ? std::optional(out) : std::nullopt;
}

std::string SystemFormatIPv6(const std::array<std::uint8_t, 16>& address) {
    char text[INET6_ADDRSTRLEN] = {};
    return inet_ntop(AF_INET6, address.data(), text, sizeof text) != nullptr ? text : "";
}

} // namespace fuzzing
