// DPrint's message shape, the line escaping of the POSIX channel, Strip, the 64-bit test and the
// Vista rule.
#include "common/debug_output.h"
#include "common/dprint.h"
#include "common/file_checks.h"
#include "common/os_info.h"
#include "common/strip.h"
#include "support/debug_capture.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <optional>
#include <string>

using namespace CommonModule;

TEST(DPrint, TabBeforeEachValueInItsTextForm) {
    EXPECT_EQ(FormatDebugMessage(), "");
    EXPECT_EQ(FormatDebugMessage(std::string("a"), 5, true), "\ta\t5\tTrue");
    EXPECT_EQ(FormatDebugMessage(false, -12L, "x"), "\tFalse\t-12\tx");

    testing_support::DebugCapture capture;
    DPrint("modRegistry\\fReadValue - VB ERROR: 5 x");
    DPrint();
    ASSERT_EQ(capture.Messages().size(), 2u);
    EXPECT_EQ(capture.Messages()[0], "\tmodRegistry\\fReadValue - VB ERROR: 5 x");
    EXPECT_EQ(capture.Messages()[1], "");
}

TEST(EscapeDebugLine, OneLinePerMessageAndReadableBackslashes) {
    struct Case {
        std::string message, line;
    } cases[] = {
        {"\tplain", "\tplain"},
        {"a\r\n\tb", "a\\r\\n\tb"},
        {"HKLM\\Software\\Quillfen", "HKLM\\Software\\Quillfen"},
        {"Software\\rogue", "Software\\\\rogue"},
        {"ends in \\", "ends in \\"},
        {"two \\\\ here", "two \\\\\\ here"},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(EscapeDebugLine(c.message), c.line) << c.message;
    }
}

TEST(Strip, RemovesEveryOccurrenceIncludingOnesFormedByRemoval) {
    struct Case {
        std::string line, remove, result;
    } cases[] = {
        {"\"C:\\Program Files\\x.exe\"", "\"", "C:\\Program Files\\x.exe"},
        {"software\\wow6432node\\x", "wow6432node\\", "software\\x"},
        {"Software\\Wow6432Node\\x", "wow6432node\\", "Software\\Wow6432Node\\x"},
        {"aabb", "ab", ""},
        {"aaabbb", "ab", ""},
        {"xaabby", "ab", "xy"},
        {"unchanged", "q", "unchanged"},
        {"", "q", ""},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(Strip(c.line, c.remove), c.result) << c.line << " - " << c.remove;
    }
}

TEST(Strip, OccurrencePastThe16BitRangeEndsTheRemovalWithAReport) {
    const std::string line = "ab" + std::string(40000, '.') + "ab";
    testing_support::DebugCapture capture;
    const std::string result = Strip(line, "ab");
    EXPECT_EQ(result, std::string(40000, '.') + "ab");
    ASSERT_EQ(capture.Messages().size(), 3u);
    EXPECT_EQ(capture.Messages()[0].rfind("\tCommonModule\\Strip VB ERROR: 6 ", 0), 0u);
    EXPECT_EQ(capture.Messages()[2], "\t\t- psRemoveStr=ab");
}

namespace {
// Sets an environment variable for one scope and restores it afterwards.
class ScopedEnv {
public:
    ScopedEnv(const char* name, const char* value) : name_(name) {
        if (const char* old = std::getenv(name)) {
            old_ = old;
        }
        Set(value);
    }
    ~ScopedEnv() { Set(old_ ? old_->c_str() : nullptr); }

private:
    void Set(const char* value) {
        std::string assignment = name_ + "=" + (value ? value : "");
        // putenv with "NAME=" removes the variable on Windows; elsewhere an empty value is
        // close enough for these tests, which only look at the length.
        static std::string keep[8];
        static int next = 0;
        keep[next] = assignment;
        ::putenv(keep[next].data());
        next = (next + 1) % 8;
    }
    std::string name_;
    std::optional<std::string> old_;
};
} // namespace

TEST(Is64bitOS, NeedsTwoCharactersInProgramFilesX86) {
    struct Case {
        const char* value;
        bool expected;
    } cases[] = {{"", false}, {"C", false}, {"C:", true}, {"C:\\Program Files (x86)", true}};
    for (const auto& c : cases) {
        ScopedEnv env("ProgramFiles(x86)", c.value);
        EXPECT_EQ(Is64bitOS(""), c.expected) << "'" << c.value << "'";
    }
}

TEST(ClsOpSys, VistaMeansNtFamilyMajorSixOrLater) {
    struct Case {
        std::uint32_t platform, major, minor;
        bool vista;
    } cases[] = {
        {2, 5, 1, false}, {2, 6, 0, true},  {2, 6, 1, true},   {2, 6, 2, true},
        {2, 10, 0, true}, {1, 6, 0, false}, {1, 4, 90, false}, {0, 0, 0, false},
    };
    for (const auto& c : cases) {
        OsVersionRecord r;
        r.platformId = c.platform;
        r.majorVersion = c.major;
        r.minorVersion = c.minor;
        EXPECT_EQ(clsOpSys(r).IsVista(), c.vista) << c.platform << " " << c.major;
    }
    OsVersionRecord r;
    r.csdVersion = std::string("Service Pack 3\0junk", 19);
    EXPECT_EQ(clsOpSys(r).CSDVersion(), "Service Pack 3");
    r.csdVersion = std::string("\0junk", 5);
    EXPECT_EQ(clsOpSys(r).CSDVersion(), "");
}
