// DoesFileExist: files count, folders and missing names do not, bare names are searched for, and
// long paths are not mistaken for absent files.
#include "common/file_checks.h"
#include "settings/app_settings.h"
#include "support/temp_folder.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>

using CommonModule::DoesFileExist;

TEST(DoesFileExist, FilesFoldersAndMissingNames) {
    testing_support::TempFolder folder;
    folder.Write("present.txt", "x");
    std::filesystem::create_directory(folder.Path() / "sub");

    EXPECT_TRUE(DoesFileExist(folder.File("present.txt")));
    EXPECT_FALSE(DoesFileExist(folder.File("missing.txt")));
    EXPECT_FALSE(DoesFileExist(folder.File("sub")));
    EXPECT_FALSE(DoesFileExist(""));
}

TEST(DoesFileExist, LongPathsToExistingFilesCount) {
    testing_support::TempFolder folder;
    std::filesystem::path deep = folder.Path();
    while (deep.string().size() < 300) {
        deep /= std::string(40, 'd');
    }
    std::filesystem::create_directories(deep);
    std::ofstream(deep / "file.txt") << "x";
    ASSERT_GT((deep / "file.txt").string().size(), 130u);
    EXPECT_TRUE(DoesFileExist((deep / "file.txt").string()));
}

TEST(DoesFileExist, BareNameIsFoundInTheProgramFolderAndTheSearchPath) {
    const std::string name = "does-file-exist-probe.tmp";
    const std::string besideProgram = CommonModule::AppPath() + name;
    std::ofstream(besideProgram) << "x";
    EXPECT_TRUE(DoesFileExist(name));
    std::filesystem::remove(besideProgram);
    EXPECT_FALSE(DoesFileExist(name));
}
