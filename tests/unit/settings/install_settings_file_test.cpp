// A prepared settings file put in place by the package hooks: over an older file, never through
// a second name planted where the settings file goes, and nothing changed when the source is
// not a small plain file.
#include "settings/install_settings_file.h"

#include "support/temp_folder.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <string>
#include <vector>

namespace {

namespace fs = std::filesystem;
using CommonModule::InstallSettingsFile;
using CommonModule::RemoveSettingsFile;

std::vector<std::string> Names(const testing_support::TempFolder& temp) {
    std::vector<std::string> names;
    for (const auto& entry : fs::directory_iterator(temp.Path())) {
        names.push_back(entry.path().filename().string());
    }
    std::sort(names.begin(), names.end());
    return names;
}

TEST(InstallSettingsFile, ReplacesTheNameNotWhatAHardLinkSharesIt) {
    const testing_support::TempFolder temp;
    const std::string prepared = "[General]\r\nCreateTask=1\r\n[EmailConfig]\r\nPassword=<~x\r\n";
    temp.Write("Prepared.ini", prepared);
    temp.Write("victim.txt", "someone's file\r\n");
    fs::create_hard_link(temp.Path() / "victim.txt", temp.Path() / "addrwatch.ini");

    ASSERT_TRUE(InstallSettingsFile(temp.File("Prepared.ini"), temp.File("addrwatch.ini")));

    EXPECT_EQ(temp.Read("addrwatch.ini"), prepared);
    EXPECT_EQ(temp.Read("victim.txt"), "someone's file\r\n");
    EXPECT_EQ(fs::hard_link_count(temp.Path() / "addrwatch.ini"), 1u);
    EXPECT_EQ(Names(temp),
              (std::vector<std::string>{"Prepared.ini", "addrwatch.ini", "victim.txt"}));

    // Again over the file it made: an older settings file is replaced, an empty one is copied.
    temp.Write("Empty.ini", "");
    ASSERT_TRUE(InstallSettingsFile(temp.File("Empty.ini"), temp.File("addrwatch.ini")));
    EXPECT_EQ(temp.Read("addrwatch.ini"), "");
}

TEST(InstallSettingsFile, ASourceThatIsNoSmallPlainFileChangesNothing) {
    const testing_support::TempFolder temp;
    temp.Write("addrwatch.ini", "[General]\r\nold=1\r\n");
    temp.Write("large.ini", std::string(1024 * 1024 + 1, 'x'));
    fs::create_directory(temp.Path() / "folder.ini");
    for (const char* source : {"missing.ini", "large.ini", "folder.ini"}) {
        EXPECT_FALSE(InstallSettingsFile(temp.File(source), temp.File("addrwatch.ini"))) << source;
        EXPECT_EQ(temp.Read("addrwatch.ini"), "[General]\r\nold=1\r\n") << source;
    }
    // No temporary file is left behind either.
    EXPECT_EQ(Names(temp), (std::vector<std::string>{"addrwatch.ini", "folder.ini", "large.ini"}));
    // A file of exactly 1 MiB is still a settings file.
    temp.Write("large.ini", std::string(1024 * 1024, 'x'));
    EXPECT_TRUE(InstallSettingsFile(temp.File("large.ini"), temp.File("addrwatch.ini")));
}

TEST(RemoveSettingsFile, RemovesTheFileAndCallsAMissingOneGone) {
    const testing_support::TempFolder temp;
    temp.Write("addrwatch.ini", "[General]\r\n");
    EXPECT_TRUE(RemoveSettingsFile(temp.File("addrwatch.ini")));
    EXPECT_FALSE(fs::exists(temp.Path() / "addrwatch.ini"));
    EXPECT_TRUE(RemoveSettingsFile(temp.File("addrwatch.ini")));
    fs::create_directory(temp.Path() / "folder.ini");
    EXPECT_FALSE(RemoveSettingsFile(temp.File("folder.ini")));
}

} // namespace
