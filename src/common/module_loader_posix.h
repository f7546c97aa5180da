// Loads one of the program's own modules (POSIX). Include only from *_posix.cpp files.
#pragma once

#include <string>

namespace posix {

// The address of entry in the module file of the folder that holds the running program's real
// path (never a second place: a module found anywhere else runs with the program's rights).
// Null when it cannot be had; reason then holds the system loader's own account, such as
// "libssl.so.3: cannot open shared object file: No such file or directory". A loaded module
// stays loaded for the life of the process.
void* LoadProgramModule(const char* file, const char* entry, std::string& reason);

} // namespace posix
