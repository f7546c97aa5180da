#include "mail/alt_names_der.h"

#include <cstdint>
#include <optional>

namespace modSendEmail {

namespace {

struct Element {
    std::uint8_t tag;
    std::string_view value;
};

// The element at the start of der (one-byte tag, definite length), moving der past it.
std::optional<Element> Next(std::string_view& der) {
    if (der.size() < 2) {
        return std::nullopt;
    }
    const auto tag = static_cast<std::uint8_t>(der[0]);
    if ((tag & 0x1f) == 0x1f) {
        return std::nullopt; // a multi-byte tag: no GeneralName has one
    }
    std::size_t length = static_cast<std::uint8_t>(der[1]);
    std::size_t header = 2;
    if (length & 0x80) {
        const std::size_t count = length & 0x7f;
        if (count == 0 || count > 4 || der.size() < 2 + count) {
            return std::nullopt; // indefinite, or longer than any certificate
        }
        length = 0;
        for (std::size_t i = 0; i < count; ++i) {
            length = (length << 8) | static_cast<std::uint8_t>(der[2 + i]);
        }
        header += count;
    }
    if (length > der.size() - header) {
        return std::nullopt;
    }
    const Element e{tag, der.substr(header, length)};
    der.remove_prefix(header + length);
    return e;
}

constexpr std::uint8_t kSequence = 0x30;
constexpr std::uint8_t kDnsName = 0x82;   // [2] IMPLICIT IA5String
constexpr std::uint8_t kIpAddress = 0x87; // [7] IMPLICIT OCTET STRING

} // namespace

bool ReadAltNames(std::string_view der, CertificateNames& names) {
    const std::optional<Element> sequence = Next(der);
    if (!sequence || sequence->tag != kSequence || !der.empty()) {
        return false;
    }
    CertificateNames found;
    for (std::string_view rest = sequence->value; !rest.empty();) {
        const std::optional<Element> name = Next(rest);
        if (!name) {
            return false;
        }
        if (name->tag == kDnsName) {
            found.dnsNames.emplace_back(name->value);
        } else if (name->tag == kIpAddress) {
            found.ipAddresses.emplace_back(name->value);
        }
    }
    names.dnsNames.insert(names.dnsNames.end(), found.dnsNames.begin(), found.dnsNames.end());
    names.ipAddresses.insert(names.ipAddresses.end(), found.ipAddresses.begin(),
                             found.ipAddresses.end());
    return true;
}

} // namespace modSendEmail
