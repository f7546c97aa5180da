// What the POSIX writer adds to the profile-function rules: the file's mode survives, a new file
// is private to its owner, the write goes through rename, and a link keeps pointing at the file.
// And what the reader refuses: anything but a regular file of at most 1 MiB.
#include "settings/ini_file.h"
#include "support/debug_capture.h"
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

TEST(IniFilePosix, OnlyRegularFilesUpTo1MiBAreRead) {
    const std::string head = "[G]\nk=v\n";
    const std::size_t limit = 1024 * 1024;
    struct Case {
        const char* name;
        const char* message; // empty: the file is read
    } cases[] = {
        {"fifo.ini", "not a regular file"},
        {"zero.ini", "not a regular file"},
        {"long.ini", "larger than 1 MiB"},
        {"full.ini", ""},
    };
    testing_support::TempFolder folder;
    ASSERT_EQ(::mkfifo(folder.File("fifo.ini").c_str(), 0600), 0);
    std::filesystem::create_symlink("/dev/zero", folder.Path() / "zero.ini");
    folder.Write("long.ini", head + std::string(limit + 1 - head.size(), '\n'));
    folder.Write("full.ini", head + std::string(limit - head.size(), '\n'));
    for (const Case& c : cases) {
        const std::string path = folder.File(c.name);
        testing_support::DebugCapture log;
        const std::string value = ReadINI(path, "G", "k");
        WriteINI(path, "G", "k", "w"); // the same size
        if (*c.message == '\0') {
            EXPECT_EQ(value, "v") << c.name;
            EXPECT_EQ(ReadINI(path, "G", "k"), "w") << c.name;
            continue;
        }
        EXPECT_EQ(value, "") << c.name;
        // One message for the read and one for the refused write; nothing changed.
        ASSERT_EQ(log.Messages().size(), 2u) << c.name;
        EXPECT_EQ(log.Messages()[0],
                  "\tReadINI: " + path + ": " + c.message + "; the file counts as unreadable");
    }
    EXPECT_EQ(folder.Read("long.ini").size(), limit + 1);
    struct stat st {};
    ASSERT_EQ(::stat(folder.File("fifo.ini").c_str(), &st), 0);
    EXPECT_TRUE(S_ISFIFO(st.st_mode));
    EXPECT_TRUE(std::filesystem::is_symlink(folder.Path() / "zero.ini"));
}
