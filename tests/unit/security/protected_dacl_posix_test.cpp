// The protected modes on POSIX: set on the file or folder itself, never through a link.
#include "security/protected_dacl.h"

#include "support/debug_capture.h"
#include "support/temp_folder.h"

#include <filesystem>
#include <fstream>
#include <gtest/gtest.h>
#include <sys/stat.h>

namespace {

namespace fs = std::filesystem;

mode_t ModeOf(const std::string& path) {
    struct stat st {};
    return ::lstat(path.c_str(), &st) == 0 ? st.st_mode & 07777 : 0;
}

TEST(ProtectedModes, FolderAndSettingsFile) {
    const testing_support::TempFolder temp;
    const std::string folder = temp.File("addrwatch");
    fs::create_directory(folder);
    ::chmod(folder.c_str(), 0777);
    const std::string ini = folder + "/addrwatch.ini";
    { std::ofstream(ini) << "[General]\n"; }
    ::chmod(ini.c_str(), 0666);

    EXPECT_TRUE(SetPerm::ProtectInstallFolder(folder));
    EXPECT_TRUE(SetPerm::ProtectSettingsFile(ini));
    EXPECT_EQ(ModeOf(folder), 0755u);
    EXPECT_EQ(ModeOf(ini), 0600u);
}

TEST(ProtectedModes, RefusesLinksAndTheWrongKind) {
    const testing_support::TempFolder temp;
    const std::string folder = temp.File("folder");
    fs::create_directory(folder);
    ::chmod(folder.c_str(), 0777);
    temp.Write("target", "x");
    const std::string target = temp.File("target");
    ::chmod(target.c_str(), 0666);
    const std::string link = temp.File("link");
    fs::create_symlink(target, link);
    const std::string folderLink = temp.File("folder-link");
    fs::create_directory_symlink(folder, folderLink);
    const struct {
        bool folderCall;
        std::string path;
    } cases[] = {{false, link},
                 {true, folderLink},
                 {true, target},
                 {false, folder},
                 {false, temp.File("none")}};
    for (const auto& c : cases) {
        testing_support::DebugCapture capture;
        EXPECT_FALSE(c.folderCall ? SetPerm::ProtectInstallFolder(c.path)
                                  : SetPerm::ProtectSettingsFile(c.path))
            << c.path;
        EXPECT_EQ(capture.Messages().size(), 1u) << c.path;
    }
    // Nothing a link points at changed.
    EXPECT_EQ(ModeOf(target), 0666u);
    EXPECT_EQ(ModeOf(folder), 0777u);
}

} // namespace
