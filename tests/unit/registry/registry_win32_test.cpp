// What the program writes is what the platform's own tools see.
#include "registry/registry.h"
#include "registry/registry_store.h"

#include "common/windows_api.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <string>

using namespace modRegistry;

TEST(RegistryWin32, RootNumbersAreThePredefinedKeys) {
    EXPECT_EQ(fTopKey("HKCR"), reinterpret_cast<std::uintptr_t>(HKEY_CLASSES_ROOT));
    EXPECT_EQ(fTopKey("HKCU"), reinterpret_cast<std::uintptr_t>(HKEY_CURRENT_USER));
    EXPECT_EQ(fTopKey("HKLM"), reinterpret_cast<std::uintptr_t>(HKEY_LOCAL_MACHINE));
    EXPECT_EQ(fTopKey("HKU"), reinterpret_cast<std::uintptr_t>(HKEY_USERS));
    EXPECT_EQ(fTopKey("HKCC"), reinterpret_cast<std::uintptr_t>(HKEY_CURRENT_CONFIG));
    EXPECT_EQ(fTopKey("HKDD"), reinterpret_cast<std::uintptr_t>(HKEY_DYN_DATA));
}

TEST(RegistryWin32, RegQueryShowsTheValueThatWasWritten) {
    const std::string key = "Software\\Quillfen\\Addrwatch";
    RegValue saved;
    const long had = fReadValue("HKLM", key, "LastWANIP", "S", std::string(), saved);

    ASSERT_EQ(fWriteValue("HKLM", key, "LastWANIP", "S", std::string("198.51.100.23")), 0);
    std::string output;
    if (FILE* p = _popen("reg query \"HKLM\\Software\\Quillfen\\Addrwatch\" /v LastWANIP", "r")) {
        char buffer[512];
        while (std::fgets(buffer, sizeof buffer, p) != nullptr) {
            output += buffer;
        }
        _pclose(p);
    }
    EXPECT_NE(output.find("LastWANIP"), std::string::npos) << output;
    EXPECT_NE(output.find("REG_SZ"), std::string::npos) << output;
    EXPECT_NE(output.find("198.51.100.23"), std::string::npos) << output;

    if (had == 0) {
        fWriteValue("HKLM", key, "LastWANIP", "S", saved);
    } else {
        ::RegDeleteKeyExA(HKEY_LOCAL_MACHINE, key.c_str(), KEY_WOW64_64KEY, 0);
    }
}
