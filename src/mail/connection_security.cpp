#include "mail/connection_security.h"

#include "mail/message.h"

namespace modSendEmail {

namespace {

// The port's number when the text is decimal digits, blanks around them allowed.
std::optional<long> PortNumber(std::string_view port) {
    const std::size_t first = port.find_first_not_of(' ');
    if (first == std::string_view::npos) {
        return std::nullopt;
    }
    port = port.substr(first, port.find_last_not_of(' ') - first + 1);
    long value = 0;
    for (char c : port) {
        if (c < '0' || c > '9' || value > 65535) {
            return std::nullopt;
        }
        value = value * 10 + (c - '0');
    }
    return value;
}

} // namespace

ConnectionSecurity ChooseConnectionSecurity(bool useSsl, std::optional<bool> startTls,
                                            std::string_view port) {
    if (startTls.has_value()) {
        if (*startTls) {
            return ConnectionSecurity::StartTls;
        }
        return useSsl ? ConnectionSecurity::ImplicitTls : ConnectionSecurity::Plain;
    }
    if (!useSsl) {
        return ConnectionSecurity::Plain;
    }
    const std::optional<long> number = PortNumber(port);
    return number == 25 || number == 587 ? ConnectionSecurity::StartTls
                                         : ConnectionSecurity::ImplicitTls;
}

std::optional<bool> StartTlsSetting(std::string_view value) {
    if (value.empty()) {
        return std::nullopt;
    }
    const Outcome<int> n = ConvertToInteger16(value);
    const bool zero = n && n.value() == 0 && value.find_first_of("123456789") == value.npos;
    return !zero;
}

} // namespace modSendEmail
