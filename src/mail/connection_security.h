// Which security a mail connection uses, from the settings: the one rule both targets share.
#pragma once

#include <optional>
#include <string_view>

namespace modSendEmail {

enum class ConnectionSecurity {
    Plain,       // no TLS at all
    ImplicitTls, // TLS from the first byte
    StartTls,    // plain greeting, then STARTTLS, mandatory: never a plain fall-back
};

// useSsl and startTls are the "Use SSL" and "StartTLS" settings (startTls without a value when
// the key is missing or empty); port is the port as typed. StartTLS on asks for STARTTLS, off
// keeps "Use SSL" as implicit TLS or plain; without it, "Use SSL" means STARTTLS on the ports
// where servers expect it (25 and 587) and implicit TLS on any other.
ConnectionSecurity ChooseConnectionSecurity(bool useSsl, std::optional<bool> startTls,
                                            std::string_view port);

} // namespace modSendEmail
