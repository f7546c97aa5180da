#include "common/file_checks.h"

#include <gtest/gtest.h>

TEST(DoesFileExistPosix, BareNameOnPathIsFound) {
    EXPECT_TRUE(CommonModule::DoesFileExist("sh"));
    EXPECT_FALSE(CommonModule::DoesFileExist("no-such-tool-anywhere"));
}
