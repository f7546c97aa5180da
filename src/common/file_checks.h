// File and 64-bit checks that the rest of the program leans on. Neither ever fails: a failure
// answers false.
#pragma once

#include <string_view>

namespace CommonModule {

// True when a file (not a folder) of that name exists and can be opened for reading. A bare name
// (no folder part) is searched for in the program's folder, the current folder, then the system
// folders and PATH, as the legacy open-for-existence function did. No limit on the length.
bool DoesFileExist(std::string_view sFile);

// True when the environment variable "ProgramFiles(x86)" holds two characters or more. The
// drive text is not used; every caller passes the empty text.
bool Is64bitOS(std::string_view drive = {});

} // namespace CommonModule
