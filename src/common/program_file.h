// Where the running program file is, and the path conventions of this platform.
#pragma once

#include <string>
#include <string_view>

namespace platform {

// Full path of the running executable as the platform reports it.
std::string ProgramFilePath();

// The folder separator of this platform's paths: '\\' on Windows, '/' on POSIX.
char PathSeparator();

// The executable suffix of this platform: ".exe" on Windows, empty on POSIX.
std::string_view ExecutableSuffix();

} // namespace platform
