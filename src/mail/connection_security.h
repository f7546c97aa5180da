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

// The "StartTLS" value as read from the settings: no value when empty, off when it reads as the
// number 0 and on for anything else, words and other numbers included, so that a value meant to
// secure the connection never leaves it in plain text. "Reads as the number 0" is a number as
// "Use SSL" is read (blanks around it, sign, decimals, exponent, "&H" / "&O") written with no
// digit but 0: "0", "00", " 0", "-0", "0.0", "&H0". A value that only rounds to 0 ("0.4") is not
// 0, and is on.
std::optional<bool> StartTlsSetting(std::string_view value);

} // namespace modSendEmail
