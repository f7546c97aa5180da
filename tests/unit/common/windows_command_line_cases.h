// Command lines and how Windows splits them; shared by the portable test and the check against
// the system's own CommandLineToArgvW.
#pragma once

#include <string>
#include <vector>

struct CommandLineCase {
    const char* line;
    std::vector<std::string> args;
};

inline const std::vector<CommandLineCase>& CommandLineCases() {
    static const std::vector<CommandLineCase> cases = {
        {"prog", {"prog"}},
        {"prog a b", {"prog", "a", "b"}},
        {"prog  a\t b  ", {"prog", "a", "b"}},
        {" prog a", {"", "prog", "a"}},
        // The program name: quoted up to the next quote, backslashes always literal.
        {"\"C:\\Program Files\\x.exe\" /f", {"C:\\Program Files\\x.exe", "/f"}},
        {"C:\\dir\\x.exe a", {"C:\\dir\\x.exe", "a"}},
        {"\"C:\\dir\\\"x y", {"C:\\dir\\", "x", "y"}},
        {"a\"b c\" d", {"a\"b", "c d"}},
        // Arguments: quotes group, backslashes count only before a quote.
        {"p \"a b\" c", {"p", "a b", "c"}},
        {"p a\\\\b", {"p", "a\\\\b"}},
        {"p a\\\"b", {"p", "a\"b"}},
        {"p a\\\\\"b c\"", {"p", "a\\b c"}},
        {"p a\\\\\\\"b", {"p", "a\\\"b"}},
        {"p \"a\\\\\"", {"p", "a\\"}},
        {"p \"\"", {"p", ""}},
        {"p \"\" x", {"p", "", "x"}},
        {"p \"unclosed arg", {"p", "unclosed arg"}},
        // A doubled quote inside quotes is a literal quote and ends the quoted part.
        {"p \"a\"\"b\"", {"p", "a\"b"}},
        {"p \"a\"\"b c\"", {"p", "a\"b", "c"}},
        {"p \"\"\"a\"\"\"", {"p", "\"a\""}},
        {"p a\"\"b", {"p", "ab"}},
        // The scheduler's creation line: five quotes give the task name and the quoted path.
        {"schtasks.exe /create /st 10:00:00 /tn \"Quillfen - Addrwatch\" /tr "
         "\"\\\"C:\\Program Files\\Addrwatch\\addrwatch.exe\\\"",
         {"schtasks.exe", "/create", "/st", "10:00:00", "/tn", "Quillfen - Addrwatch", "/tr",
          "\"C:\\Program Files\\Addrwatch\\addrwatch.exe\""}},
    };
    return cases;
}
