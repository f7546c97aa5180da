// The access grant against the real registry and security descriptors (Wine is the oracle).
#include "security/set_perm.h"
#include "security/set_perm_win32.h"

#include "common/win32_handle.h"
#include "support/ace_view_win32.h"
#include "support/debug_capture.h"

#include <sddl.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

namespace {

using testing_support::AceView;
using testing_support::SidText;

constexpr DWORD kFull = 0xF003F;

// The identifier of an account as the local system names it; empty when it is unknown here.
std::string AccountSid(const std::string& account) {
    BYTE sid[SECURITY_MAX_SID_SIZE];
    DWORD sidSize = sizeof sid;
    char domain[256];
    DWORD domainSize = sizeof domain;
    SID_NAME_USE use;
    if (!::LookupAccountNameA(nullptr, account.c_str(), sid, &sidSize, domain, &domainSize, &use)) {
        return {};
    }
    return SidText(sid);
}

std::string UserName() {
    char buffer[256];
    const DWORD n = ::GetEnvironmentVariableA("username", buffer, sizeof buffer);
    return std::string(buffer, n < sizeof buffer ? n : 0);
}

// A fresh key below HKLM\Software\Quillfen\AddrwatchTests, removed with its subtree afterwards.
class TestKey {
public:
    explicit TestKey(const std::string& name)
        : path_("Software\\Quillfen\\AddrwatchTests\\" + name) {
        Remove();
        HKEY key = nullptr;
        EXPECT_EQ(::RegCreateKeyExA(HKEY_LOCAL_MACHINE, path_.c_str(), 0, nullptr, 0,
                                    KEY_ALL_ACCESS | KEY_WOW64_64KEY, nullptr, &key, nullptr),
                  ERROR_SUCCESS);
        ::RegCloseKey(key);
    }
    ~TestKey() { Remove(); }
    const std::string& Path() const { return path_; }

    void SetSddl(const std::string& sddl) const {
        PSECURITY_DESCRIPTOR sd = nullptr;
        ASSERT_TRUE(::ConvertStringSecurityDescriptorToSecurityDescriptorA(
            sddl.c_str(), SDDL_REVISION_1, &sd, nullptr))
            << sddl;
        const win32::LocalMemory owner(sd);
        const win32::RegistryKey key = Open(WRITE_DAC);
        ASSERT_EQ(::RegSetKeySecurity(key.get(), DACL_SECURITY_INFORMATION, sd), ERROR_SUCCESS);
    }

    std::vector<AceView> Aces(SECURITY_DESCRIPTOR_CONTROL* control = nullptr) const {
        const win32::RegistryKey key = Open(READ_CONTROL);
        DWORD size = 0;
        ::RegGetKeySecurity(key.get(), DACL_SECURITY_INFORMATION, nullptr, &size);
        std::vector<BYTE> sd(size);
        EXPECT_EQ(::RegGetKeySecurity(key.get(), DACL_SECURITY_INFORMATION, sd.data(), &size),
                  ERROR_SUCCESS);
        if (control != nullptr) {
            DWORD revision = 0;
            ::GetSecurityDescriptorControl(sd.data(), control, &revision);
        }
        BOOL present = FALSE, defaulted = FALSE;
        PACL acl = nullptr;
        ::GetSecurityDescriptorDacl(sd.data(), &present, &acl, &defaulted);
        std::vector<AceView> aces;
        for (DWORD i = 0; present && acl != nullptr && i < acl->AceCount; ++i) {
            void* ace = nullptr;
            ::GetAce(acl, i, &ace);
            const auto* a = static_cast<ACCESS_ALLOWED_ACE*>(ace);
            aces.push_back({a->Header.AceType, a->Header.AceFlags, a->Mask,
                            SidText(const_cast<DWORD*>(&a->SidStart))});
        }
        return aces;
    }

private:
    // A denial left on the key would keep the test from deleting it: open it up first (the
    // owner may always rewrite the list).
    void Remove() const {
        HKEY key = nullptr;
        if (::RegOpenKeyExA(HKEY_LOCAL_MACHINE, path_.c_str(), 0, WRITE_DAC | KEY_WOW64_64KEY,
                            &key) == ERROR_SUCCESS) {
            const win32::RegistryKey owner(key);
            SECURITY_DESCRIPTOR sd;
            ::InitializeSecurityDescriptor(&sd, SECURITY_DESCRIPTOR_REVISION);
            ::SetSecurityDescriptorDacl(&sd, TRUE, nullptr, FALSE);
            ::RegSetKeySecurity(key, DACL_SECURITY_INFORMATION, &sd);
        }
        ::RegDeleteTreeA(HKEY_LOCAL_MACHINE, path_.c_str());
    }
    win32::RegistryKey Open(REGSAM access) const {
        HKEY key = nullptr;
        EXPECT_EQ(
            ::RegOpenKeyExA(HKEY_LOCAL_MACHINE, path_.c_str(), 0, access | KEY_WOW64_64KEY, &key),
            ERROR_SUCCESS);
        return win32::RegistryKey(key);
    }
    std::string path_;
};

// The five grantees in grant order, with the identifiers the local system knows them by.
std::vector<std::string> GranteeSids() {
    std::vector<std::string> sids;
    for (const std::string& name :
         {UserName(), std::string("System"), std::string("Administrators"),
          std::string("Power Users"), std::string("Users")}) {
        if (const std::string sid = AccountSid(name); !sid.empty()) {
            sids.push_back(sid);
        }
    }
    return sids;
}

TEST(SetPermWin32, GrantKeepsOthersDeniesFirstReplacesOwnEntriesAndInheritedLast) {
    const TestKey key("SetPermOrder");
    const std::string user = AccountSid(UserName());
    ASSERT_FALSE(user.empty());
    // Guests denied, Backup Operators allowed (both kept), the user and Users with read only
    // (replaced), and one inherited entry for Creator Owner (kept, last).
    key.SetSddl("D:(D;CI;0x20019;;;BG)(A;CI;0x20019;;;" + user +
                ")(A;;0x20019;;;BU)(A;CI;0x20019;;;BO)(A;CIID;0xF003F;;;CO)");

    testing_support::DebugCapture capture;
    EXPECT_FALSE(SetPerm::GetRegKeyPermissions("HKLM", key.Path(), SetPerm::KeyView::View64));

    std::vector<AceView> expected = {
        {ACCESS_DENIED_ACE_TYPE, CONTAINER_INHERIT_ACE, 0x20019, "S-1-5-32-546"},
        {ACCESS_ALLOWED_ACE_TYPE, CONTAINER_INHERIT_ACE, 0x20019, "S-1-5-32-551"}};
    const std::vector<std::string> grantees = GranteeSids();
    for (const std::string& sid : grantees) {
        expected.push_back({ACCESS_ALLOWED_ACE_TYPE, CONTAINER_INHERIT_ACE, kFull, sid});
    }
    expected.push_back(
        {ACCESS_ALLOWED_ACE_TYPE, CONTAINER_INHERIT_ACE | INHERITED_ACE, kFull, "S-1-3-0"});
    EXPECT_EQ(key.Aces(), expected);

    // One line per grant: stored, or the failed lookup of an account this system lacks.
    std::vector<std::string> lines;
    for (int i = 0; i < 5; ++i) {
        lines.push_back(i < static_cast<int>(grantees.size())
                            ? "\tSetPerm\\UpdatePermissionsOfRegistryKey: True"
                            : "\t\t- result: False");
    }
    std::vector<std::string> got = capture.Messages();
    std::sort(got.begin(), got.end());
    std::sort(lines.begin(), lines.end());
    EXPECT_EQ(got, lines);
}

TEST(SetPermWin32, ProtectedAndAutoInheritedMarksSurviveTheGrant) {
    const struct {
        const char* sddl;
        SECURITY_DESCRIPTOR_CONTROL mark;
    } cases[] = {
        {"D:P(A;CI;0x20019;;;BO)", SE_DACL_PROTECTED},
        {"D:AI(A;CI;0x20019;;;BO)", SE_DACL_AUTO_INHERITED},
    };
    for (const auto& c : cases) {
        const TestKey key("SetPermMarks");
        key.SetSddl(c.sddl);
        SECURITY_DESCRIPTOR_CONTROL before = 0;
        key.Aces(&before);
        ASSERT_TRUE(before & c.mark) << c.sddl;

        std::string account = "Users";
        std::string allowDeny;
        EXPECT_TRUE(SetPerm::RegSetKeyPermission("HKLM", key.Path(), account, allowDeny, "ALL",
                                                 SetPerm::KeyView::View64));
        SECURITY_DESCRIPTOR_CONTROL after = 0;
        const auto aces = key.Aces(&after);
        EXPECT_TRUE(after & c.mark) << c.sddl;
        EXPECT_EQ(aces.back(),
                  (AceView{ACCESS_ALLOWED_ACE_TYPE, CONTAINER_INHERIT_ACE, kFull, "S-1-5-32-545"}));
        EXPECT_EQ(allowDeny, "Allow");
    }
}

TEST(SetPermWin32, RightsWordsAndAllowDenyTexts) {
    const struct {
        const char* rights;
        const char* allowDeny;
        BYTE type;
        DWORD mask;
    } cases[] = {
        {"Read", "", ACCESS_ALLOWED_ACE_TYPE, 0x20019},
        {"X", "Allow", ACCESS_ALLOWED_ACE_TYPE, 0x20019},
        {"W", "Allow", ACCESS_ALLOWED_ACE_TYPE, 0x20006},
        {"read", "Allow", ACCESS_ALLOWED_ACE_TYPE, kFull}, // words are case-sensitive
        {"Full", "Allow", ACCESS_ALLOWED_ACE_TYPE, kFull},
        {"Read", "deny", ACCESS_ALLOWED_ACE_TYPE, 0x20019}, // only the exact "Deny" denies
        {"Read", "Deny", ACCESS_DENIED_ACE_TYPE, 0x20019},
    };
    for (const auto& c : cases) {
        const TestKey key("SetPermRights");
        key.SetSddl("D:(A;CI;0xF003F;;;BO)");
        std::string account = "Users";
        std::string allowDeny = c.allowDeny;
        ASSERT_TRUE(SetPerm::RegSetKeyPermission("HKLM", key.Path(), account, allowDeny, c.rights,
                                                 SetPerm::KeyView::View64));
        const auto aces = key.Aces();
        ASSERT_EQ(aces.size(), 2u) << c.rights << "/" << c.allowDeny;
        // A denial goes in front, an allowance after the entries already there.
        const AceView& added = c.type == ACCESS_DENIED_ACE_TYPE ? aces.front() : aces.back();
        EXPECT_EQ(added, (AceView{c.type, CONTAINER_INHERIT_ACE, c.mask, "S-1-5-32-545"}))
            << c.rights << "/" << c.allowDeny;
    }
}

TEST(SetPermWin32, RootNamesAndMissingKeys) {
    const TestKey key("SetPermRoots");
    key.SetSddl("D:(A;CI;0xF003F;;;BO)");
    {
        testing_support::DebugCapture capture;
        std::string account = "Users", allowDeny;
        EXPECT_TRUE(SetPerm::RegSetKeyPermission("hklm", key.Path(), account, allowDeny, "ALL",
                                                 SetPerm::KeyView::View64));
        EXPECT_EQ(capture.Messages(),
                  std::vector<std::string>{"\tSetPerm\\UpdatePermissionsOfRegistryKey: True"});
    }
    {
        testing_support::DebugCapture capture;
        std::string account = "Users", allowDeny;
        EXPECT_TRUE(SetPerm::RegSetKeyPermission("HKEY_LOCAL_MACHINE", key.Path(), account,
                                                 allowDeny, "ALL", SetPerm::KeyView::View64));
        EXPECT_EQ(
            capture.Messages(),
            (std::vector<std::string>{
                "\tSetPerm\\RegSetKeyPermission - Bad skey passed:  HKEY_LOCAL_MACHINE",
                "\t\tDefaulting to HKLM...", "\tSetPerm\\UpdatePermissionsOfRegistryKey: True"}));
    }
    {
        // A key that cannot be opened: no grant and no report; the empty account is filled in.
        testing_support::DebugCapture capture;
        std::string account, allowDeny;
        EXPECT_FALSE(SetPerm::RegSetKeyPermission("HKLM", key.Path() + "\\Missing", account,
                                                  allowDeny, "ALL", SetPerm::KeyView::View64));
        EXPECT_TRUE(capture.Messages().empty());
        EXPECT_EQ(account, UserName());
        EXPECT_EQ(allowDeny, "Allow");
    }
}

} // namespace
