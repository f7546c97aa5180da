// Windows: the OAuth subkey is made (or taken over) with the protected DACL of SYSTEM and
// Administrators and Administrators as owner; the token is sealed with DPAPI in machine scope,
// so the system account's task and an administrator's window can both open it.
#include "oauth/token_store.h"

#include "common/dprint.h"
#include "common/file_checks.h"
#include "common/win32_handle.h"
#include "security/protected_dacl_win32.h"

#include <dpapi.h>

#include <vector>

namespace oauth::store {

namespace {

using CommonModule::DPrint;

// Ties the sealed blob to its purpose: another program's blob does not open as ours.
constexpr char kEntropy[] = "Addrwatch OAuth refresh token";

// The view fReadValue uses for a path outside Wow6432Node.
REGSAM ViewFlag() {
    return CommonModule::Is64bitOS("") ? KEY_WOW64_64KEY : 0;
}

win32::RegistryKey CreateProtectedKey() {
    std::vector<BYTE> descriptor =
        SetPerm::BuildProtectedDescriptor(SetPerm::ProtectedObject::PrivateKey);
    if (descriptor.empty()) {
        DPrint("OAuth: no security descriptor for the token's key");
        return {};
    }
    SECURITY_ATTRIBUTES attributes{sizeof attributes, descriptor.data(), FALSE};
    HKEY h = nullptr;
    DWORD disposition = 0;
    const long code =
        ::RegCreateKeyExA(HKEY_LOCAL_MACHINE, kOAuthKey, 0, nullptr, REG_OPTION_NON_VOLATILE,
                          KEY_SET_VALUE | KEY_QUERY_VALUE | WRITE_DAC | WRITE_OWNER | ViewFlag(),
                          &attributes, &h, &disposition);
    if (code != ERROR_SUCCESS) {
        DPrint("OAuth: creating the token's key failed with error " + std::to_string(code));
        return {};
    }
    win32::RegistryKey key(h);
    // A key that was there already may carry anyone's access list; it gets ours.
    if (!SetPerm::ReprotectOpenKey(key.get(), "OAuth: the token's key")) {
        return {};
    }
    return key;
}

bool Save(const char* name, DWORD type, const std::string& data) {
    const win32::RegistryKey key = CreateProtectedKey();
    if (!key) {
        return false;
    }
    const long code =
        ::RegSetValueExA(key.get(), name, 0, type, reinterpret_cast<const BYTE*>(data.data()),
                         static_cast<DWORD>(data.size()));
    if (code != ERROR_SUCCESS) {
        DPrint(std::string("OAuth: storing ") + name + " failed with error " +
               std::to_string(code));
        return false;
    }
    return true;
}

std::optional<std::string> Load(const char* name, DWORD wanted) {
    HKEY h = nullptr;
    if (::RegOpenKeyExA(HKEY_LOCAL_MACHINE, kOAuthKey, 0, KEY_QUERY_VALUE | ViewFlag(), &h) !=
        ERROR_SUCCESS) {
        return std::nullopt;
    }
    const win32::RegistryKey key(h);
    DWORD type = 0;
    DWORD size = 0;
    if (::RegQueryValueExA(key.get(), name, nullptr, &type, nullptr, &size) != ERROR_SUCCESS ||
        type != wanted || size == 0 || size > 1024 * 1024) {
        return std::nullopt;
    }
    std::string data(size, '\0');
    if (::RegQueryValueExA(key.get(), name, nullptr, &type, reinterpret_cast<BYTE*>(data.data()),
                           &size) != ERROR_SUCCESS ||
        type != wanted) {
        return std::nullopt;
    }
    data.resize(size);
    return data;
}

DATA_BLOB BlobOf(const std::string& bytes) {
    return {static_cast<DWORD>(bytes.size()),
            reinterpret_cast<BYTE*>(const_cast<char*>(bytes.data()))};
}

std::optional<std::string> Seal(const std::string& token) {
    DATA_BLOB in = BlobOf(token);
    DATA_BLOB entropy{sizeof kEntropy - 1, reinterpret_cast<BYTE*>(const_cast<char*>(kEntropy))};
    DATA_BLOB out{};
    if (!::CryptProtectData(&in, L"Addrwatch", &entropy, nullptr, nullptr,
                            CRYPTPROTECT_LOCAL_MACHINE | CRYPTPROTECT_UI_FORBIDDEN, &out)) {
        DPrint("OAuth: sealing the token failed with error " + std::to_string(::GetLastError()));
        return std::nullopt;
    }
    const win32::LocalMemory owner(out.pbData);
    return std::string(reinterpret_cast<const char*>(out.pbData), out.cbData);
}

std::optional<std::string> Unseal(const std::string& blob) {
    DATA_BLOB in = BlobOf(blob);
    DATA_BLOB entropy{sizeof kEntropy - 1, reinterpret_cast<BYTE*>(const_cast<char*>(kEntropy))};
    DATA_BLOB out{};
    if (!::CryptUnprotectData(&in, nullptr, &entropy, nullptr, nullptr, CRYPTPROTECT_UI_FORBIDDEN,
                              &out)) {
        DPrint("OAuth: the stored token cannot be unsealed, error " +
               std::to_string(::GetLastError()));
        return std::nullopt;
    }
    const win32::LocalMemory owner(out.pbData);
    std::string token(reinterpret_cast<const char*>(out.pbData), out.cbData);
    ::SecureZeroMemory(out.pbData, out.cbData);
    return token;
}

} // namespace

bool SaveRefreshToken(const std::string& token) {
    const auto sealed = Seal(token);
    return sealed && Save(kRefreshTokenValue, REG_BINARY, *sealed);
}

std::optional<std::string> LoadRefreshToken() {
    const auto blob = Load(kRefreshTokenValue, REG_BINARY);
    if (!blob) {
        return std::nullopt;
    }
    auto token = Unseal(*blob);
    if (!token || token->empty()) {
        return std::nullopt;
    }
    return token;
}

bool SaveRefreshedAt(const std::string& isoTime) {
    return Save(kRefreshedAtValue, REG_SZ, isoTime + std::string(1, '\0'));
}

std::optional<std::string> LoadRefreshedAt() {
    auto text = Load(kRefreshedAtValue, REG_SZ);
    while (text && !text->empty() && text->back() == '\0') {
        text->pop_back();
    }
    return text;
}

void DeleteStoredValues() {
    HKEY h = nullptr;
    if (::RegOpenKeyExA(HKEY_LOCAL_MACHINE, kOAuthKey, 0, KEY_SET_VALUE | ViewFlag(), &h) !=
        ERROR_SUCCESS) {
        return;
    }
    const win32::RegistryKey key(h);
    ::RegDeleteValueA(key.get(), kRefreshTokenValue);
    ::RegDeleteValueA(key.get(), kRefreshedAtValue);
}

} // namespace oauth::store
