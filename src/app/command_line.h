// Windows command-line rules as pure functions, testable on any platform.
#pragma once

#include <string_view>

namespace windows_command_line {

// The text after the program's path in a Windows command line, as the C runtime splits argv[0]:
// a leading quoted path runs to the next quote, an unquoted one to the first blank or tab. The
// blanks between the path and the first argument are not part of the result; blanks after the
// switch are.
template <typename Char>
std::basic_string_view<Char> ArgumentsAfterProgram(std::basic_string_view<Char> commandLine) {
    std::size_t i = 0;
    if (i < commandLine.size() && commandLine[i] == Char('"')) {
        ++i;
        while (i < commandLine.size() && commandLine[i] != Char('"')) {
            ++i;
        }
        if (i < commandLine.size()) {
            ++i;
        }
    } else {
        while (i < commandLine.size() && commandLine[i] != Char(' ') &&
               commandLine[i] != Char('\t')) {
            ++i;
        }
    }
    while (i < commandLine.size() &&
           (commandLine[i] == Char(' ') || commandLine[i] == Char('\t'))) {
        ++i;
    }
    return commandLine.substr(i);
}

inline std::wstring_view ArgumentsAfterProgram(const wchar_t* commandLine) {
    return ArgumentsAfterProgram(std::wstring_view(commandLine ? commandLine : L""));
}

} // namespace windows_command_line
