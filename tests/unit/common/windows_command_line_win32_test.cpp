// The table of the splitter's cases, checked against the system's own splitter.
#include "common/win32_text.h"

#include "common/windows_command_line_cases.h"

#include <gtest/gtest.h>
#include <shellapi.h>

TEST(SplitWindowsCommandLine, TableMatchesCommandLineToArgvW) {
    for (const auto& c : CommandLineCases()) {
        int count = 0;
        wchar_t** argv = ::CommandLineToArgvW(win32::AnsiToWide(c.line).c_str(), &count);
        ASSERT_NE(argv, nullptr) << c.line;
        std::vector<std::string> args;
        for (int i = 0; i < count; ++i) {
            args.push_back(win32::WideToAnsi(argv[i]));
        }
        ::LocalFree(argv);
        EXPECT_EQ(args, c.args) << c.line;
    }
}
