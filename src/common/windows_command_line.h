// The Windows rules for splitting one command-line text into a program and its arguments, as
// CommandLineToArgvW applies them. Pure and portable, so the POSIX launcher starts the same
// program with the same arguments that the same text would start on Windows.
#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace CommonModule {

// The program (first element) and its arguments; empty for an empty text. A leading blank gives
// an empty program name, as on Windows.
// The program name ends at the next double quote when it starts with one, else at the first blank
// or tab; its backslashes are literal. In the arguments, blanks and tabs outside quotes separate;
// 2n backslashes before a quote give n backslashes and the quote toggles quoting, 2n+1 give n
// backslashes and a literal quote; other backslashes are literal; inside quotes, a doubled quote
// gives a literal quote and closes the quoted part.
std::vector<std::string> SplitWindowsCommandLine(std::string_view commandLine);

} // namespace CommonModule
