// fDeleteKey against the real registry under Wine and the SQLite store natively: the same cases.
// The access grants log only on Windows; the cases look at the deletion's own lines.
#include "registry/delete_key.h"

#include "registry/registry.h"
#include "registry/registry_store.h"
#include "support/debug_capture.h"
#include "support/environment.h"
#include "support/temp_folder.h"
#include "support/test_registry.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

using namespace modRegistry;
using Messages = std::vector<std::string>;

namespace {

const std::string kBase = "Software\\Quillfen\\AddrwatchDeleteTest";
const std::string kBase32 = "Software\\Wow6432Node\\Quillfen\\AddrwatchDeleteTest";

// The messages without the access grant's lines.
Messages DeletionLines(const Messages& all) {
    Messages lines;
    for (const std::string& m : all) {
        if (m.rfind("\tSetPerm\\", 0) != 0 && m != "\t\t- result: False") {
            lines.push_back(m);
        }
    }
    return lines;
}

// Paths as the 64-bit view shows them, Wow6432Node included.
bool KeyExists(const std::string& path) {
    store::Key key;
    return store::OpenKey(store::kLocalMachine, path, store::View::View64, key) == 0;
}

class DeleteKey : public ::testing::Test {
protected:
    void SetUp() override { Clean(); }
    void TearDown() override { Clean(); }
    void Clean() {
        testing_support::DeleteRegistryTree(store::kLocalMachine, kBase);
        testing_support::DeleteRegistryTree(store::kLocalMachine, kBase32);
    }
    static void Make(const std::string& path) {
        ASSERT_EQ(fWriteValue("HKLM", path, "v", "S", std::string("x")), 0) << path;
    }

    testing_support::TempFolder folder_;
    testing_support::ScopedEnvironment state_{"ADDRWATCH_STATE_DIR", folder_.Path().string()};
    testing_support::ScopedEnvironment wow_{"ProgramFiles(x86)",
                                            std::string("C:\\Program Files (x86)")};
};

TEST_F(DeleteKey, ThreeLevelsOfSubkeysGoDeepestFirst) {
    const std::string target = kBase + "\\Target";
    for (const char* sub : {"\\A\\A1\\A2", "\\B\\B1", "\\C"}) {
        Make(target + sub);
    }
    Make(kBase + "\\Sibling");

    testing_support::DebugCapture capture;
    bool notFound = false;
    EXPECT_EQ(fDeleteKey("HKLM", kBase, "Target", notFound), 0);
    EXPECT_FALSE(notFound);

    const std::string p = "\tmodRegistry\\fDeleteSubkeys passed: HKLM\\" + target;
    EXPECT_EQ(DeletionLines(capture.Messages()),
              (Messages{p, p + "\\A", p + "\\A\\A1", p + "\\A\\A1\\A2", p + "\\B", p + "\\B\\B1",
                        p + "\\C", "\tmodRegistry\\fDeleteKey: ", "\t\t- Key: HKLM\\" + target,
                        "\t\t- lResult: 0 SUCCESS"}));
    EXPECT_FALSE(KeyExists(target));
    EXPECT_TRUE(KeyExists(kBase + "\\Sibling"));
}

TEST_F(DeleteKey, MissingKeyOrParentIsNotFoundWithoutASecondAttempt) {
    Make(kBase);
    const struct {
        std::string parent;
        std::string key;
        Messages subkeyLines;
    } cases[] = {
        // The parent opens, the key does not: its walk reports the failed open.
        {kBase,
         "Missing",
         {"\tmodRegistry\\fDeleteSubkeys passed: HKLM\\" + kBase + "\\Missing",
          "\tmodRegistry\\fDeleteSubkeys: Error opening key: " + kBase + "\\Missing"}},
        // The parent does not open: nothing is walked.
        {kBase + "\\NoParent", "Missing", {}},
    };
    for (const auto& c : cases) {
        testing_support::DebugCapture capture;
        bool notFound = false;
        EXPECT_EQ(fDeleteKey("HKLM", c.parent, c.key, notFound), 0) << c.parent;
        EXPECT_TRUE(notFound) << c.parent;
        Messages expected = c.subkeyLines;
        for (const std::string& line : {std::string("\tmodRegistry\\fDeleteKey: "),
                                        "\t\t- Key: HKLM\\" + c.parent + "\\" + c.key,
                                        std::string("\t\t- lResult: 2 NOT FOUND")}) {
            expected.push_back(line);
        }
        EXPECT_EQ(DeletionLines(capture.Messages()), expected) << c.parent;
    }
    EXPECT_TRUE(KeyExists(kBase));
}

TEST_F(DeleteKey, UnknownRootGives99AndTheErrorBlock) {
    for (const char* root : {"HKEY_LOCAL_MACHINE", "", "HKXX"}) {
        testing_support::DebugCapture capture;
        bool notFound = false;
        EXPECT_EQ(fDeleteKey(root, kBase, "Target", notFound), 99) << root;
        EXPECT_FALSE(notFound);
        EXPECT_EQ(capture.Messages(),
                  (Messages{"\tmodRegistry\\fDeleteKey - VB ERROR: 0 ",
                            "\t\t- Key: " + std::string(root) + "\\" + kBase + "\\Target",
                            "\t\t- lResult (0=Success 2=Not Found): 0"}))
            << root;
    }
}

TEST_F(DeleteKey, Wow6432NodePathIsTranslatedAndDeletedInThe32BitView) {
    Make(kBase32 + "\\Target\\Sub");
    // The lower-cased path without the node, as the 32-bit view names it.
    const std::string translated = "software\\quillfen\\addrwatchdeletetest";

    testing_support::DebugCapture capture;
    bool notFound = false;
    EXPECT_EQ(fDeleteKey("hklm", kBase32, "Target", notFound), 0);
    const std::string p = "\tmodRegistry\\fDeleteSubkeys passed: hklm\\" + translated;
    EXPECT_EQ(
        DeletionLines(capture.Messages()),
        (Messages{p + "\\Target", p + "\\Target\\Sub", "\tmodRegistry\\fDeleteKey: ",
                  "\t\t- Key: hklm\\" + translated + "\\Target", "\t\t- lResult: 0 SUCCESS"}));
    EXPECT_FALSE(KeyExists(kBase32 + "\\Target"));
    EXPECT_TRUE(KeyExists(kBase32));
}

} // namespace
