#include "common/file_checks.h"

#include <gtest/gtest.h>

TEST(DoesFileExistWin32, SystemToolsAreFoundByBareName) {
    EXPECT_TRUE(CommonModule::DoesFileExist("schtasks.exe"));
    EXPECT_TRUE(CommonModule::DoesFileExist("reg.exe"));
    EXPECT_FALSE(CommonModule::DoesFileExist("no-such-tool-anywhere.exe"));
}
