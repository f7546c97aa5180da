// fDeleteKey on keys whose access lists refuse the deletion (Wine enforces them): the grant must
// come before each deletion and reach the key in the deletion's view.
#include "registry/delete_key.h"

#include "common/win32_handle.h"
#include "support/debug_capture.h"
#include "support/test_registry.h"

#include <sddl.h>

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

const std::string kBase = "Software\\Quillfen\\AddrwatchDeleteLocked";
const std::string kBase32 = "Software\\Wow6432Node\\Quillfen\\AddrwatchDeleteLocked";

// Paths as the 64-bit view shows them.
void Create(const std::string& path) {
    HKEY key = nullptr;
    ASSERT_EQ(::RegCreateKeyExA(HKEY_LOCAL_MACHINE, path.c_str(), 0, nullptr, 0,
                                KEY_ALL_ACCESS | KEY_WOW64_64KEY, nullptr, &key, nullptr),
              ERROR_SUCCESS);
    ::RegCloseKey(key);
}

long SetSddl(const std::string& path, const char* sddl) {
    PSECURITY_DESCRIPTOR sd = nullptr;
    if (!::ConvertStringSecurityDescriptorToSecurityDescriptorA(sddl, SDDL_REVISION_1, &sd,
                                                                nullptr)) {
        return -1;
    }
    const win32::LocalMemory owner(sd);
    HKEY key = nullptr;
    long code =
        ::RegOpenKeyExA(HKEY_LOCAL_MACHINE, path.c_str(), 0, WRITE_DAC | KEY_WOW64_64KEY, &key);
    if (code == ERROR_SUCCESS) {
        code = ::RegSetKeySecurity(key, DACL_SECURITY_INFORMATION, sd);
        ::RegCloseKey(key);
    }
    return code;
}

bool Exists(const std::string& path) {
    HKEY key = nullptr;
    const long code =
        ::RegOpenKeyExA(HKEY_LOCAL_MACHINE, path.c_str(), 0, READ_CONTROL | KEY_WOW64_64KEY, &key);
    if (code == ERROR_SUCCESS) {
        ::RegCloseKey(key);
    }
    return code != ERROR_FILE_NOT_FOUND;
}

// Opens every key of a tree again (the owner may always rewrite the list), then removes it.
void Unlock(const std::string& path) {
    if (SetSddl(path, "D:(A;CI;0xF003F;;;WD)") != ERROR_SUCCESS) {
        return;
    }
    HKEY key = nullptr;
    if (::RegOpenKeyExA(HKEY_LOCAL_MACHINE, path.c_str(), 0, KEY_READ | KEY_WOW64_64KEY, &key) ==
        ERROR_SUCCESS) {
        std::vector<std::string> names;
        char name[256];
        for (DWORD i = 0, n = sizeof name;
             ::RegEnumKeyExA(key, i, name, &n, nullptr, nullptr, nullptr, nullptr) == ERROR_SUCCESS;
             ++i, n = sizeof name) {
            names.emplace_back(name);
        }
        ::RegCloseKey(key);
        for (const std::string& child : names) {
            Unlock(path + "\\" + child);
        }
    }
}

class DeleteLockedKey : public ::testing::Test {
protected:
    void SetUp() override { Clean(); }
    void TearDown() override { Clean(); }
    static void Clean() {
        for (const std::string& base : {kBase, kBase32}) {
            Unlock(base);
            testing_support::DeleteRegistryTree(
                reinterpret_cast<std::uintptr_t>(HKEY_LOCAL_MACHINE), base);
        }
    }
};

TEST_F(DeleteLockedKey, EveryKeyIsGrantedBeforeItsDeletionInTheDeletionsView) {
    const struct {
        std::string base;
        std::string parentArgument;
    } cases[] = {
        {kBase, kBase}, {kBase32, kBase32}, // deleted through the 32-bit view, path translated
    };
    for (const auto& c : cases) {
        const std::string target = c.base + "\\Target";
        const std::vector<std::string> tree = {target, target + "\\A", target + "\\A\\A1",
                                               target + "\\A\\A1\\A2", target + "\\B"};
        for (const std::string& key : tree) {
            Create(key);
        }
        // Deepest first, so that each key can still be reached while its parent is locked: an
        // empty protected list lets nobody in but the owner, and the owner only to rewrite it.
        for (auto it = tree.rbegin(); it != tree.rend(); ++it) {
            ASSERT_EQ(SetSddl(*it, "D:P"), ERROR_SUCCESS) << *it;
        }
        HKEY parent = nullptr;
        ASSERT_EQ(::RegOpenKeyExA(HKEY_LOCAL_MACHINE, (target + "\\A\\A1").c_str(), 0,
                                  KEY_ALL_ACCESS | KEY_WOW64_64KEY, &parent),
                  ERROR_ACCESS_DENIED)
            << "the fixture must refuse access without the grant";

        testing_support::DebugCapture capture;
        bool notFound = false;
        EXPECT_EQ(modRegistry::fDeleteKey("HKLM", c.parentArgument, "Target", notFound), 0)
            << c.base;
        ASSERT_FALSE(capture.Messages().empty());
        EXPECT_EQ(capture.Messages().back(), "\t\t- lResult: 0 SUCCESS") << c.base;
        for (const std::string& m : capture.Messages()) {
            EXPECT_EQ(m.find("Attempting second run"), std::string::npos) << "first attempt failed";
        }
        EXPECT_FALSE(Exists(target)) << c.base;
        EXPECT_TRUE(Exists(c.base)) << c.base;
    }
}

TEST_F(DeleteLockedKey, DeletionRefusedTwiceEndsWithRegExeAndTheSecondCode) {
    const std::string target = kBase + "\\Target";
    Create(target + "\\Child");
    // A denial to everyone stays ahead of every grant: the walk cannot open the key with full
    // access, so its subkey stays and the key cannot go.
    ASSERT_EQ(SetSddl(target, "D:(D;;0x2;;;WD)(A;CI;0xF003F;;;WD)"), ERROR_SUCCESS);

    testing_support::DebugCapture capture;
    bool notFound = false;
    EXPECT_EQ(modRegistry::fDeleteKey("HKLM", kBase, "Target", notFound), 5);
    EXPECT_FALSE(notFound);

    std::vector<std::string> lines;
    // fDeleteKey's own lines (the launcher and the grants report too).
    for (const std::string& m : capture.Messages()) {
        for (const char* prefix : {"\tmodRegistry\\fDeleteKey", "\t\tKey:  ", "\t\t- Attempting",
                                   "\t\tcmd:  ", "\t\t- Key: ", "\t\t- lResult"}) {
            if (m.rfind(prefix, 0) == 0) {
                lines.push_back(m);
                break;
            }
        }
    }
    const std::string key = "HKLM\\" + target;
    EXPECT_EQ(lines, (std::vector<std::string>{
                         "\tmodRegistry\\fDeleteKey - Error:  5", "\t\tKey:  " + key,
                         "\t\t- Attempting second run using subinacl...",
                         "\tmodRegistry\\fDeleteKey - Error:  5", "\t\tKey:  " + key,
                         "\tmodRegistry\\fDeleteKey:  Still not working, attempting deletion "
                         "with reg.exe",
                         "\t\tcmd:  reg.exe delete \"" + key + "\" /f",
                         "\tmodRegistry\\fDeleteKey: ", "\t\t- Key: " + key,
                         "\t\t- lResult (0=Success 2=Not Found): 5"}));
}

} // namespace
