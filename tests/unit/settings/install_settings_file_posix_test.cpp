// POSIX: the installed settings file is its owner's alone, and a symbolic link planted where it
// goes is replaced, or removed, as itself.
#include "settings/install_settings_file.h"

#include "support/temp_folder.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <sys/stat.h>

namespace {

namespace fs = std::filesystem;

TEST(InstallSettingsFilePosix, PrivateFileInPlaceOfALink) {
    const testing_support::TempFolder temp;
    temp.Write("Prepared.ini", "[General]\n");
    ::chmod(temp.File("Prepared.ini").c_str(), 0644);
    temp.Write("target.txt", "not the settings\n");
    fs::create_symlink(temp.Path() / "target.txt", temp.Path() / "addrwatch.ini");

    ASSERT_TRUE(
        CommonModule::InstallSettingsFile(temp.File("Prepared.ini"), temp.File("addrwatch.ini")));

    struct stat st {};
    ASSERT_EQ(::lstat(temp.File("addrwatch.ini").c_str(), &st), 0);
    EXPECT_TRUE(S_ISREG(st.st_mode));
    EXPECT_EQ(st.st_mode & 07777, 0600u);
    EXPECT_EQ(temp.Read("target.txt"), "not the settings\n");

    fs::create_symlink(temp.Path() / "target.txt", temp.Path() / "link.ini");
    EXPECT_TRUE(CommonModule::RemoveSettingsFile(temp.File("link.ini")));
    EXPECT_FALSE(fs::is_symlink(temp.Path() / "link.ini"));
    EXPECT_EQ(temp.Read("target.txt"), "not the settings\n");
}

} // namespace
