// The refresh token's key as Windows keeps it: a protected DACL for SYSTEM and Administrators
// only (nothing inherited), even over a key someone made beforehand with access for everybody,
// and a value that is not the token in clear.
#include "oauth/token_store.h"

#include "common/win32_handle.h"
#include "registry/registry_store.h"
#include "support/ace_view_win32.h"
#include "support/test_registry.h"

#include <aclapi.h>
#include <sddl.h>

#include <gtest/gtest.h>

#include <set>
#include <string>

namespace {

using namespace oauth;

constexpr const char* kSystem = "S-1-5-18";
constexpr const char* kAdministrators = "S-1-5-32-544";

struct KeyDacl {
    bool isProtected = false;
    std::set<std::string> grantees;
};

KeyDacl ReadKeyDacl() {
    KeyDacl view;
    HKEY h = nullptr;
    EXPECT_EQ(::RegOpenKeyExA(HKEY_LOCAL_MACHINE, store::kOAuthKey, 0,
                              READ_CONTROL | KEY_WOW64_64KEY, &h),
              ERROR_SUCCESS);
    const win32::RegistryKey key(h);
    PSECURITY_DESCRIPTOR sd = nullptr;
    PACL dacl = nullptr;
    if (::GetSecurityInfo(key.get(), SE_REGISTRY_KEY, DACL_SECURITY_INFORMATION, nullptr, nullptr,
                          &dacl, nullptr, &sd) != ERROR_SUCCESS) {
        return view;
    }
    const win32::LocalMemory owner(sd);
    SECURITY_DESCRIPTOR_CONTROL control = 0;
    DWORD revision = 0;
    ::GetSecurityDescriptorControl(sd, &control, &revision);
    view.isProtected = (control & SE_DACL_PROTECTED) != 0;
    for (DWORD i = 0; dacl != nullptr && i < dacl->AceCount; ++i) {
        void* ace = nullptr;
        ::GetAce(dacl, i, &ace);
        auto* allowed = static_cast<ACCESS_ALLOWED_ACE*>(ace);
        view.grantees.insert(testing_support::SidText(&allowed->SidStart));
    }
    return view;
}

// Wine keeps a registry key's DACL but not its protection mark.
bool UnderWine() {
    const HMODULE ntdll = ::GetModuleHandleA("ntdll.dll");
    return ntdll != nullptr && ::GetProcAddress(ntdll, "wine_get_version") != nullptr;
}

class ProtectedTokenKey : public ::testing::Test {
protected:
    void SetUp() override { Clean(); }
    void TearDown() override { Clean(); }
    static void Clean() {
        testing_support::DeleteRegistryTree(modRegistry::store::kLocalMachine, store::kOAuthKey);
    }
};

TEST_F(ProtectedTokenKey, OnlySystemAndAdministratorsAndNoTokenInClear) {
    // A key planted beforehand, open to everybody.
    SECURITY_DESCRIPTOR open{};
    ::InitializeSecurityDescriptor(&open, SECURITY_DESCRIPTOR_REVISION);
    ::SetSecurityDescriptorDacl(&open, TRUE, nullptr, FALSE);
    SECURITY_ATTRIBUTES attributes{sizeof attributes, &open, FALSE};
    HKEY planted = nullptr;
    ASSERT_EQ(::RegCreateKeyExA(HKEY_LOCAL_MACHINE, store::kOAuthKey, 0, nullptr, 0,
                                KEY_ALL_ACCESS | KEY_WOW64_64KEY, &attributes, &planted, nullptr),
              ERROR_SUCCESS);
    ::RegCloseKey(planted);

    const std::string token = "1//0gTOKEN-in-clear-" + std::string(200, 'x');
    ASSERT_TRUE(store::SaveRefreshToken(token));
    const KeyDacl dacl = ReadKeyDacl();
    EXPECT_TRUE(dacl.isProtected || UnderWine());
    EXPECT_EQ(dacl.grantees, (std::set<std::string>{kSystem, kAdministrators}));

    HKEY h = nullptr;
    ASSERT_EQ(::RegOpenKeyExA(HKEY_LOCAL_MACHINE, store::kOAuthKey, 0,
                              KEY_QUERY_VALUE | KEY_WOW64_64KEY, &h),
              ERROR_SUCCESS);
    const win32::RegistryKey key(h);
    DWORD type = 0;
    std::string blob(8192, '\0');
    DWORD size = static_cast<DWORD>(blob.size());
    ASSERT_EQ(::RegQueryValueExA(key.get(), store::kRefreshTokenValue, nullptr, &type,
                                 reinterpret_cast<BYTE*>(blob.data()), &size),
              ERROR_SUCCESS);
    blob.resize(size);
    EXPECT_EQ(type, static_cast<DWORD>(REG_BINARY));
    EXPECT_EQ(blob.find("TOKEN-in-clear"), std::string::npos);
    EXPECT_EQ(store::LoadRefreshToken(), token);
}

} // namespace
