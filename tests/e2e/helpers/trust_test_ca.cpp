// Test-only (Windows): adds a PEM or DER certificate to the machine's trusted root store, so a
// test CA made by the e2e set-up is trusted inside a private Wine prefix.
// Usage: trust_test_ca <certificate file>. Exit code 0 on success.
#include "common/windows_api.h"

#include <wincrypt.h>

#include <cstdio>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fputs("usage: trust_test_ca <certificate file>\n", stderr);
        return 2;
    }
    std::ifstream in(argv[1], std::ios::binary);
    const std::string text((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    std::vector<BYTE> der(text.size() + 1);
    DWORD size = DWORD(der.size());
    if (!CryptStringToBinaryA(text.data(), DWORD(text.size()), CRYPT_STRING_BASE64HEADER,
                              der.data(), &size, nullptr, nullptr)) {
        der.assign(text.begin(), text.end()); // not PEM: take it as DER
        size = DWORD(der.size());
    }
    HCERTSTORE store =
        CertOpenStore(CERT_STORE_PROV_SYSTEM_A, 0, 0, CERT_SYSTEM_STORE_LOCAL_MACHINE, "ROOT");
    if (store == nullptr) {
        std::fprintf(stderr, "CertOpenStore failed: %lu\n", GetLastError());
        return 1;
    }
    const BOOL added = CertAddEncodedCertificateToStore(store, X509_ASN_ENCODING, der.data(), size,
                                                        CERT_STORE_ADD_REPLACE_EXISTING, nullptr);
    const DWORD error = GetLastError();
    CertCloseStore(store, 0);
    if (!added) {
        std::fprintf(stderr, "CertAddEncodedCertificateToStore failed: %lu\n", error);
        return 1;
    }
    return 0;
}
