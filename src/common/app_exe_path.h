// Where the running program is: its folder, its name and its executable path.
#pragma once

#include <string>

namespace CommonModule {

// The running program's folder, always ending in exactly one path separator.
std::string AppPath();

// The running program file's name without its extension (it follows a rename).
std::string ProgramBaseName();

// The program's own executable path: AppPath, the program's name without its extension, and the
// platform's executable suffix (".exe" on Windows, none on POSIX).
std::string AppExePath();

} // namespace CommonModule
