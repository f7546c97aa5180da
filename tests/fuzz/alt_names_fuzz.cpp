// Any bytes as a certificate's subjectAltName: the reader never reads outside them; refusing, it
// adds nothing; accepting, every name it adds is a piece of the input, and the names re-encoded
// as a SEQUENCE read back the same.
#include "invariant.h"
#include "mail/alt_names_der.h"

#include <algorithm>
#include <cstdint>
#include <string>
#include <string_view>

using modSendEmail::CertificateNames;
using modSendEmail::ReadAltNames;

using fuzzing::Check;

namespace {

std::string Tlv(char tag, const std::string& value) {
    std::string out(1, tag);
    if (value.size() < 0x80) {
        out += char(value.size());
    } else {
        out += "\x84";
        for (int shift = 24; shift >= 0; shift -= 8) {
            out += char((value.size() >> shift) & 0xff);
        }
    }
    return out + value;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string_view der(reinterpret_cast<const char*>(data), size);
    CertificateNames names;
    names.dnsNames = {"before"};
    const bool read = ReadAltNames(der, names);
    Check(!names.dnsNames.empty() && names.dnsNames.front() == "before",
          "names already there are kept");
    if (!read) {
        Check(names.dnsNames.size() == 1 && names.ipAddresses.empty(),
              "a refused extension adds nothing");
        return 0;
    }
    std::string entries;
    for (std::size_t i = 1; i < names.dnsNames.size(); ++i) {
        Check(der.find(names.dnsNames[i]) != std::string_view::npos, "a name is in the input");
        entries += Tlv('\x82', names.dnsNames[i]);
    }
    for (const std::string& address : names.ipAddresses) {
        Check(der.find(address) != std::string_view::npos, "an address is in the input");
        entries += Tlv('\x87', address);
    }
    CertificateNames again;
    Check(ReadAltNames(Tlv('\x30', entries), again), "the names re-encoded are read");
    Check(again.dnsNames.size() + 1 == names.dnsNames.size() &&
              std::equal(again.dnsNames.begin(), again.dnsNames.end(),
                         names.dnsNames.begin() + 1) &&
              again.ipAddresses == names.ipAddresses,
          "the names re-encoded read back the same");
    return 0;
}
