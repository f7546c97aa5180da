#include "common/windows_command_line.h"

#include "common/windows_command_line_cases.h"

#include <gtest/gtest.h>

namespace {

TEST(SplitWindowsCommandLine, SplitsAsWindowsDoes) {
    for (const auto& c : CommandLineCases()) {
        EXPECT_EQ(CommonModule::SplitWindowsCommandLine(c.line), c.args) << c.line;
    }
}

TEST(SplitWindowsCommandLine, EmptyTextHasNoProgram) {
    EXPECT_TRUE(CommonModule::SplitWindowsCommandLine("").empty());
}

} // namespace
