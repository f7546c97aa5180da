// Windows registry backend: advapi32, ANSI entry points, with the view flag the caller names.
// Result codes are the platform's own, passed through unchanged.
#include "registry/registry_store.h"

#include "common/win32_handle.h"

namespace modRegistry::store {

namespace {

REGSAM ViewFlag(View view) {
    switch (view) {
    case View::View32:
        return KEY_WOW64_32KEY;
    case View::View64:
        return KEY_WOW64_64KEY;
    default:
        return 0;
    }
}

HKEY RootKey(std::uintptr_t root) {
    return reinterpret_cast<HKEY>(root);
}

} // namespace

struct Key::Impl {
    win32::RegistryKey key;
};

Key::Key() = default;
Key::~Key() = default;
Key::Key(Key&&) noexcept = default;
Key& Key::operator=(Key&&) noexcept = default;
bool Key::IsOpen() const {
    return impl != nullptr && static_cast<bool>(impl->key);
}
long Key::Close() {
    if (!IsOpen()) {
        return ERROR_INVALID_HANDLE;
    }
    const long code = ::RegCloseKey(impl->key.release());
    impl.reset();
    return code;
}

long OpenKey(std::uintptr_t root, const std::string& path, View view, Key& key) {
    key.impl.reset();
    HKEY h = nullptr;
    const long code =
        ::RegOpenKeyExA(RootKey(root), path.c_str(), 0, KEY_QUERY_VALUE | ViewFlag(view), &h);
    if (code == ERROR_SUCCESS) {
        key.impl = std::make_unique<Key::Impl>(Key::Impl{win32::RegistryKey(h)});
    }
    return code;
}

long CreateKey(std::uintptr_t root, const std::string& path, View view, Key& key) {
    key.impl.reset();
    HKEY h = nullptr;
    DWORD disposition = 0;
    const long code = ::RegCreateKeyExA(
        RootKey(root), path.c_str(), 0, nullptr, REG_OPTION_NON_VOLATILE,
        KEY_SET_VALUE | KEY_CREATE_SUB_KEY | ViewFlag(view), nullptr, &h, &disposition);
    if (code == ERROR_SUCCESS) {
        key.impl = std::make_unique<Key::Impl>(Key::Impl{win32::RegistryKey(h)});
    }
    return code;
}

long QueryValue(const Key& key, const std::string& name, std::size_t capacity, std::uint32_t& type,
                std::string& data, std::size_t& size) {
    data.clear();
    size = 0;
    if (!key.IsOpen()) {
        return ERROR_INVALID_HANDLE;
    }
    // Never a null buffer: with one, the call reports the size and success instead of more-data.
    std::string buffer(capacity == 0 ? 1 : capacity, '\0');
    DWORD regType = 0;
    DWORD bytes = static_cast<DWORD>(capacity);
    const long code = ::RegQueryValueExA(key.impl->key.get(), name.c_str(), nullptr, &regType,
                                         reinterpret_cast<BYTE*>(buffer.data()), &bytes);
    size = bytes;
    type = regType;
    if (code == ERROR_SUCCESS) {
        buffer.resize(bytes);
        data = std::move(buffer);
    }
    return code;
}

long SetValue(const Key& key, const std::string& name, std::uint32_t type,
              const std::string& data) {
    if (!key.IsOpen()) {
        return ERROR_INVALID_HANDLE;
    }
    return ::RegSetValueExA(key.impl->key.get(), name.c_str(), 0, type,
                            reinterpret_cast<const BYTE*>(data.data()),
                            static_cast<DWORD>(data.size()));
}

long DeleteValue(const Key& key, const std::string& name) {
    if (!key.IsOpen()) {
        return ERROR_INVALID_HANDLE;
    }
    return ::RegDeleteValueA(key.impl->key.get(), name.c_str());
}

} // namespace modRegistry::store
