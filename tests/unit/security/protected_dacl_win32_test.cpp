// The protected access lists: the descriptors as built, and as the file system keeps them where it
// keeps them (Wine may keep none: those checks are skipped there).
#include "security/protected_dacl.h"
#include "security/protected_dacl_win32.h"

#include "common/win32_handle.h"
#include "common/win32_text.h"
#include "settings/ini_file.h"
#include "support/ace_view_win32.h"
#include "support/debug_capture.h"
#include "support/temp_folder.h"

#include <aclapi.h>
#include <sddl.h>

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <optional>
#include <string>
#include <vector>

namespace {

using testing_support::AceView;
using testing_support::SidText;

namespace fs = std::filesystem;
using SetPerm::ProtectedObject;

// What a descriptor says about its DACL: the protection mark and the entries in order.
struct DaclView {
    bool present = false;
    bool isProtected = false;
    std::vector<AceView> aces;
};

DaclView ViewOf(PSECURITY_DESCRIPTOR sd) {
    DaclView view;
    SECURITY_DESCRIPTOR_CONTROL control = 0;
    DWORD revision = 0;
    BOOL present = FALSE, defaulted = FALSE;
    PACL acl = nullptr;
    if (!::GetSecurityDescriptorControl(sd, &control, &revision) ||
        !::GetSecurityDescriptorDacl(sd, &present, &acl, &defaulted)) {
        return view;
    }
    view.present = present && acl != nullptr;
    view.isProtected = (control & SE_DACL_PROTECTED) != 0;
    for (DWORD i = 0; view.present && i < acl->AceCount; ++i) {
        void* ace = nullptr;
        ::GetAce(acl, i, &ace);
        const auto* a = static_cast<ACCESS_ALLOWED_ACE*>(ace);
        view.aces.push_back({a->Header.AceType, a->Header.AceFlags, a->Mask,
                             SidText(const_cast<DWORD*>(&a->SidStart))});
    }
    return view;
}

// The DACL the file system keeps for path; nothing where it keeps none.
std::optional<DaclView> StoredDacl(const std::string& path) {
    PSECURITY_DESCRIPTOR sd = nullptr;
    PACL dacl = nullptr;
    std::wstring wide = win32::AnsiToWide(path);
    if (::GetNamedSecurityInfoW(wide.data(), SE_FILE_OBJECT, DACL_SECURITY_INFORMATION, nullptr,
                                nullptr, &dacl, nullptr, &sd) != ERROR_SUCCESS ||
        sd == nullptr) {
        return std::nullopt;
    }
    const win32::LocalMemory owner(sd);
    DaclView view = ViewOf(sd);
    if (!view.present) {
        return std::nullopt;
    }
    return view;
}

// Whether this file system stores a DACL as given: Wine reports one made from the Unix mode
// instead, whatever was stored. Probed with a list the mode could never produce.
bool KeepsFileAcls(const testing_support::TempFolder& temp) {
    temp.Write("acl-probe", "");
    PSECURITY_DESCRIPTOR sd = nullptr;
    if (!::ConvertStringSecurityDescriptorToSecurityDescriptorW(L"D:P(A;;FA;;;BG)", SDDL_REVISION_1,
                                                                &sd, nullptr)) {
        return false;
    }
    const win32::LocalMemory owner(sd);
    BOOL present = FALSE, defaulted = FALSE;
    PACL dacl = nullptr;
    ::GetSecurityDescriptorDacl(sd, &present, &dacl, &defaulted);
    std::wstring wide = win32::AnsiToWide(temp.File("acl-probe"));
    if (::SetNamedSecurityInfoW(wide.data(), SE_FILE_OBJECT,
                                DACL_SECURITY_INFORMATION | PROTECTED_DACL_SECURITY_INFORMATION,
                                nullptr, nullptr, dacl, nullptr) != ERROR_SUCCESS) {
        return false;
    }
    const auto stored = StoredDacl(temp.File("acl-probe"));
    return stored && stored->isProtected && stored->aces.size() == 1 &&
           stored->aces[0].sid == "S-1-5-32-546";
}

constexpr DWORD kFullControl = 0x1F01FF; // FILE_ALL_ACCESS
constexpr DWORD kReadExecute = 0x1200A9; // FILE_GENERIC_READ | FILE_GENERIC_EXECUTE
constexpr BYTE kInherited = 0x03;        // OBJECT_INHERIT_ACE | CONTAINER_INHERIT_ACE
const char* const kSystem = "S-1-5-18";
const char* const kAdministrators = "S-1-5-32-544";
const char* const kUsers = "S-1-5-32-545";

const std::vector<AceView> kPrivateAces = {
    {ACCESS_ALLOWED_ACE_TYPE, 0, kFullControl, kSystem},
    {ACCESS_ALLOWED_ACE_TYPE, 0, kFullControl, kAdministrators},
};
const std::vector<AceView> kFolderAces = {
    {ACCESS_ALLOWED_ACE_TYPE, kInherited, kFullControl, kSystem},
    {ACCESS_ALLOWED_ACE_TYPE, kInherited, kFullControl, kAdministrators},
    {ACCESS_ALLOWED_ACE_TYPE, kInherited, kReadExecute, kUsers},
};

TEST(ProtectedDacl, DescriptorsHoldOnlyTheProtectedDacl) {
    const struct {
        ProtectedObject what;
        const std::vector<AceView>& aces;
    } cases[] = {{ProtectedObject::PrivateFile, kPrivateAces},
                 {ProtectedObject::InstallFolder, kFolderAces}};
    for (const auto& c : cases) {
        std::vector<BYTE> sd = SetPerm::BuildProtectedDescriptor(c.what);
        ASSERT_FALSE(sd.empty());
        ASSERT_TRUE(::IsValidSecurityDescriptor(sd.data()));
        EXPECT_EQ(::GetSecurityDescriptorLength(sd.data()), sd.size());
        const DaclView view = ViewOf(sd.data());
        EXPECT_TRUE(view.present);
        EXPECT_TRUE(view.isProtected);
        EXPECT_EQ(view.aces, c.aces);
        // No owner, group or SACL: the creator's defaults apply, nothing else is imposed.
        PSID owner = nullptr, group = nullptr;
        BOOL defaulted = FALSE, saclPresent = FALSE;
        PACL sacl = nullptr;
        ASSERT_TRUE(::GetSecurityDescriptorOwner(sd.data(), &owner, &defaulted));
        ASSERT_TRUE(::GetSecurityDescriptorGroup(sd.data(), &group, &defaulted));
        ASSERT_TRUE(::GetSecurityDescriptorSacl(sd.data(), &saclPresent, &sacl, &defaulted));
        EXPECT_EQ(owner, nullptr);
        EXPECT_EQ(group, nullptr);
        EXPECT_FALSE(saclPresent);
    }
}

TEST(ProtectedDacl, AppliedToTheFolderAndTheSettingsFile) {
    const testing_support::TempFolder temp;
    const std::string folder = temp.File("Addrwatch");
    fs::create_directory(folder);
    const std::string ini = folder + "\\addrwatch.ini";
    { std::ofstream(ini) << "[General]\r\n"; }

    EXPECT_TRUE(SetPerm::ProtectInstallFolder(folder));
    EXPECT_TRUE(SetPerm::ProtectSettingsFile(ini));

    if (!KeepsFileAcls(temp)) {
        GTEST_SKIP() << "this file system keeps no access lists";
    }
    const auto folderDacl = StoredDacl(folder);
    const auto fileDacl = StoredDacl(ini);
    ASSERT_TRUE(folderDacl && fileDacl);
    EXPECT_TRUE(folderDacl->isProtected);
    EXPECT_EQ(folderDacl->aces, kFolderAces);
    EXPECT_TRUE(fileDacl->isProtected);
    EXPECT_EQ(fileDacl->aces, kPrivateAces);
}

TEST(ProtectedDacl, RefusesWhatIsNotAPlainFileOrFolder) {
    const testing_support::TempFolder temp;
    const std::string folder = temp.File("folder");
    fs::create_directory(folder);
    const std::string file = temp.File("file");
    temp.Write("file", "x");
    const struct {
        bool folderCall;
        std::string path;
    } cases[] = {
        {true, file}, {false, folder}, {true, temp.File("missing")}, {false, temp.File("missing")}};
    for (const auto& c : cases) {
        testing_support::DebugCapture capture;
        EXPECT_FALSE(c.folderCall ? SetPerm::ProtectInstallFolder(c.path)
                                  : SetPerm::ProtectSettingsFile(c.path))
            << c.path;
        ASSERT_EQ(capture.Messages().size(), 1u) << c.path;
        EXPECT_NE(capture.Messages()[0].find(c.path), std::string::npos);
    }
}

// The program's own settings writes: a file they create is private from its first byte; one that
// exists keeps whatever list it has.
TEST(ProtectedDacl, SettingsFileCreatedByAWriteIsPrivate) {
    const testing_support::TempFolder temp;
    const std::string ini = temp.File("addrwatch.ini");
    CommonModule::WriteINI(ini, "General", "TaskTime", "07:30:00");
    EXPECT_EQ(temp.Read("addrwatch.ini"), "[General]\r\nTaskTime=07:30:00\r\n");
    if (!KeepsFileAcls(temp)) {
        GTEST_SKIP() << "this file system keeps no access lists";
    }
    const auto created = StoredDacl(ini);
    ASSERT_TRUE(created);
    EXPECT_TRUE(created->isProtected);
    EXPECT_EQ(created->aces, kPrivateAces);

    temp.Write("existing.ini", "[General]\r\n");
    const std::string existing = temp.File("existing.ini");
    const auto before = StoredDacl(existing);
    CommonModule::WriteINI(existing, "General", "TaskTime", "07:30:00");
    const auto after = StoredDacl(existing);
    ASSERT_TRUE(before && after);
    EXPECT_EQ(after->aces, before->aces);
    EXPECT_EQ(after->isProtected, before->isProtected);
}

} // namespace
