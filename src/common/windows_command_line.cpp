#include "common/windows_command_line.h"

namespace CommonModule {

namespace {
bool IsBlank(char c) {
    return c == ' ' || c == '\t';
}
} // namespace

std::vector<std::string> SplitWindowsCommandLine(std::string_view s) {
    std::vector<std::string> args;
    std::size_t i = 0;
    if (s.empty()) {
        return args;
    }

    // The program name follows its own, simpler rule.
    std::string program;
    if (s[i] == '"') {
        ++i;
        while (i < s.size() && s[i] != '"') {
            program += s[i++];
        }
        if (i < s.size()) {
            ++i; // the closing quote
        }
    } else {
        while (i < s.size() && !IsBlank(s[i])) {
            program += s[i++];
        }
    }
    args.push_back(std::move(program));
    while (i < s.size() && IsBlank(s[i])) {
        ++i;
    }
    if (i == s.size()) {
        return args;
    }

    std::string arg;
    int quotes = 0;     // 1 while inside a quoted part
    std::size_t bs = 0; // backslashes just before the current character
    while (i < s.size()) {
        const char c = s[i];
        if (IsBlank(c) && quotes == 0) {
            args.push_back(std::move(arg));
            arg.clear();
            bs = 0;
            while (i < s.size() && IsBlank(s[i])) {
                ++i;
            }
            if (i == s.size()) {
                return args;
            }
            continue;
        }
        if (c == '\\') {
            arg += c;
            ++bs;
            ++i;
            continue;
        }
        if (c == '"') {
            if (bs % 2 == 0) {
                arg.resize(arg.size() - bs / 2);
                ++quotes;
            } else {
                arg.resize(arg.size() - bs / 2 - 1);
                arg += '"';
            }
            bs = 0;
            ++i;
            while (i < s.size() && s[i] == '"') {
                if (++quotes == 3) {
                    arg += '"';
                    quotes = 0;
                }
                ++i;
            }
            if (quotes == 2) {
                quotes = 0;
            }
            continue;
        }
        arg += c;
        bs = 0;
        ++i;
    }
    args.push_back(std::move(arg));
    return args;
}

} // namespace CommonModule
