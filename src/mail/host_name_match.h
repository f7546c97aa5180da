// Whether a server certificate is for the host the user named: the one rule both TLS backends
// apply, so a certificate is accepted or refused alike on every target.
//
// An address literal matches only the certificate's iPAddress names. A DNS name matches its
// dNSName names, where "*" may stand for the whole first label of a name with at least three
// labels; the subject's common names count only when there is no dNSName at all.
#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace modSendEmail {

// The names a certificate is issued for, as its backend decoded them.
struct CertificateNames {
    std::vector<std::string> dnsNames;    // subjectAltName dNSName entries
    std::vector<std::string> ipAddresses; // subjectAltName iPAddress entries: 4 or 16 raw bytes
    std::vector<std::string> commonNames; // the subject's CN values
};

// A name as a system decoder gave it (a common name, or a subjectAltName entry): decoders
// differ in whether the length they report counts the string's terminator, so exactly one NUL at
// the end is dropped. Any other NUL stays, and a name holding one matches no host: a null-prefix
// name ("host\0.attacker.test") is refused, not cut.
std::string DecodedName(std::string_view name);

// The 4 or 16 bytes of an IPv4 (dotted decimal) or IPv6 literal; empty for anything else.
std::string ParseAddressLiteral(std::string_view host);

bool CertificateMatchesHost(const CertificateNames& names, std::string_view host);

} // namespace modSendEmail
