#include "support/test_registry.h"

#include "common/windows_api.h"

namespace testing_support {

void DeleteRegistryTree(std::uintptr_t root, const std::string& path) {
    HKEY key = nullptr;
    if (::RegOpenKeyExA(reinterpret_cast<HKEY>(root), path.c_str(), 0,
                        KEY_ALL_ACCESS | KEY_WOW64_64KEY, &key) == ERROR_SUCCESS) {
        ::RegDeleteTreeA(key, nullptr);
        ::RegCloseKey(key);
        const auto slash = path.rfind('\\');
        HKEY parent = nullptr;
        if (slash != std::string::npos &&
            ::RegOpenKeyExA(reinterpret_cast<HKEY>(root), path.substr(0, slash).c_str(), 0,
                            KEY_ALL_ACCESS | KEY_WOW64_64KEY, &parent) == ERROR_SUCCESS) {
            ::RegDeleteKeyExA(parent, path.substr(slash + 1).c_str(), KEY_WOW64_64KEY, 0);
            ::RegCloseKey(parent);
        }
    }
}

} // namespace testing_support
