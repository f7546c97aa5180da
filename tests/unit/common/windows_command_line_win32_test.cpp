// The table of the splitter's cases, checked against the system's own splitter.
#include "common/windows_api.h"

#include "common/windows_command_line_cases.h"

#include <gtest/gtest.h>
#include <shellapi.h>

namespace {

std::wstring Widen(const std::string& s) {
    const int n =
        ::MultiByteToWideChar(CP_ACP, 0, s.data(), static_cast<int>(s.size()), nullptr, 0);
    std::wstring w(static_cast<std::size_t>(n), L'\0');
    ::MultiByteToWideChar(CP_ACP, 0, s.data(), static_cast<int>(s.size()), w.data(), n);
    return w;
}

std::string Narrow(const wchar_t* w) {
    const int n = ::WideCharToMultiByte(CP_ACP, 0, w, -1, nullptr, 0, nullptr, nullptr);
    std::string s(static_cast<std::size_t>(n), '\0');
    ::WideCharToMultiByte(CP_ACP, 0, w, -1, s.data(), n, nullptr, nullptr);
    s.resize(s.size() - 1);
    return s;
}

TEST(SplitWindowsCommandLine, TableMatchesCommandLineToArgvW) {
    for (const auto& c : CommandLineCases()) {
        int count = 0;
        wchar_t** argv = ::CommandLineToArgvW(Widen(c.line).c_str(), &count);
        ASSERT_NE(argv, nullptr) << c.line;
        std::vector<std::string> args;
        for (int i = 0; i < count; ++i) {
            args.push_back(Narrow(argv[i]));
        }
        ::LocalFree(argv);
        EXPECT_EQ(args, c.args) << c.line;
    }
}

} // namespace
