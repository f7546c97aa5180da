// The subjectAltName extension read from its DER bytes, for a backend whose system decoder
// hands its names back as NUL-terminated strings: a name with a NUL inside would reach the
// host-name rule cut at that NUL, and a null-prefix name ("host\0.attacker.test") would pass.
#pragma once

#include "mail/host_name_match.h"

#include <string_view>

namespace modSendEmail {

// Adds the dNSName and iPAddress entries of der (the extension's value: GeneralNames) to names,
// byte for byte as encoded; other kinds of name are skipped. False, adding nothing, when der is
// not one well-formed SEQUENCE of such entries.
bool ReadAltNames(std::string_view der, CertificateNames& names);

} // namespace modSendEmail
