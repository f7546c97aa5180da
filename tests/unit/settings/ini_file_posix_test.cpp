// What the POSIX writer adds to the profile-function rules: the file's mode survives, a new file
// is private to its owner, the write goes through rename, and a link keeps pointing at the file.
#include "settings/ini_file.h"
#include "support/temp_folder.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <set>
#include <sys/stat.h>

using CommonModule::ReadINI;
using CommonModule::WriteINI;

namespace {
mode_t ModeOf(const std::filesystem::path& p) {
    struct stat st {};
    ::stat(p.c_str(), &st);
    return st.st_mode & 07777;
}
} // namespace

TEST(IniFilePosix, NewFileIsPrivateAndExistingModeIsKept) {
    testing_support::TempFolder folder;
    WriteINI(folder.File("new.ini"), "G", "k", "v");
    EXPECT_EQ(ModeOf(folder.Path() / "new.ini"), 0600u);

    folder.Write("shared.ini", "[G]\nk=1\n");
    ::chmod(folder.File("shared.ini").c_str(), 0640);
    WriteINI(folder.File("shared.ini"), "G", "k", "2");
    EXPECT_EQ(ModeOf(folder.Path() / "shared.ini"), 0640u);
    EXPECT_EQ(folder.Read("shared.ini"), "[G]\nk=2\n");

    std::set<std::string> names;
    for (const auto& e : std::filesystem::directory_iterator(folder.Path())) {
        names.insert(e.path().filename().string());
    }
    EXPECT_EQ(names, (std::set<std::string>{"new.ini", "shared.ini"})) << "no temporary left";
}

TEST(IniFilePosix, WriteThroughALinkKeepsTheLink) {
    testing_support::TempFolder folder;
    folder.Write("real.ini", "[G]\nk=1\n");
    std::filesystem::create_symlink(folder.Path() / "real.ini", folder.Path() / "link.ini");
    WriteINI(folder.File("link.ini"), "G", "k", "2");
    EXPECT_TRUE(std::filesystem::is_symlink(folder.Path() / "link.ini"));
    EXPECT_EQ(ReadINI(folder.File("real.ini"), "G", "k"), "2");
}

TEST(IniFilePosix, EditsInPlaceWithTheFilesOwnLineEnds) {
    struct Case {
        const char *before, *section, *key, *value, *after;
    } cases[] = {
        {"[G]\r\nk=1\r\n\r\n[H]\r\nj=2\r\n", "G", "n", "3",
         "[G]\r\nk=1\r\nn=3\r\n\r\n[H]\r\nj=2\r\n"},
        {"[G]\nk=1", "G", "n", "3", "[G]\nk=1\nn=3"},
        {"[G]\nk=1", "H", "n", "3", "[G]\nk=1\n[H]\nn=3\n"},
        {"", "G", "k", "v", "[G]\nk=v\n"},
        {"  K = old ; here\n", "G", "k", "v", "  K = old ; here\n[G]\nk=v\n"},
        {"[G]\n  K = old\n", "G", "k", "v", "[G]\nk=v\n"},
    };
    testing_support::TempFolder folder;
    for (const auto& c : cases) {
        folder.Write("edit.ini", c.before);
        WriteINI(folder.File("edit.ini"), c.section, c.key, c.value);
        EXPECT_EQ(folder.Read("edit.ini"), c.after) << c.before;
    }
}

// Windows refuses to write a read-only file, even for an administrator. (Wine running as root
// writes it anyway, so this case is checked on POSIX only.)
TEST(IniFilePosix, ReadOnlyFileIsLeftUnchangedEvenForRoot) {
    testing_support::TempFolder folder;
    const std::string original = "[G]\r\nk=1\r\n";
    folder.Write("ro.ini", original);
    ::chmod(folder.File("ro.ini").c_str(), 0444);
    WriteINI(folder.File("ro.ini"), "G", "k", "2");
    EXPECT_EQ(ReadINI(folder.File("ro.ini"), "G", "k"), "1");
    EXPECT_EQ(folder.Read("ro.ini"), original);
    ::chmod(folder.File("ro.ini").c_str(), 0644);
}
