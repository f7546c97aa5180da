#pragma once

#include <string>

namespace CommonModule {

// The program's own executable path: AppPath, the program's name without its extension, and the
// platform's executable suffix (".exe" on Windows, none on POSIX).
std::string AppExePath();

} // namespace CommonModule
