// ReadINI and WriteINI: the only way the program touches a setting.
#pragma once

#include <string>

namespace CommonModule {

// The value of key in section of the settings file, at most 254 characters; the empty text when
// the file, the section or the key is missing. Sections and keys match regardless of case.
std::string ReadINI(const std::string& file, const std::string& section, const std::string& key);

// Sets key in section to value, adding the section or key when missing and creating the file when
// its folder exists. A file it creates is private from the start (Windows: SYSTEM and
// Administrators only; POSIX: its owner only); an existing one keeps its access. A refused write
// (read-only file, missing folder) changes nothing and reports nothing. A value never spans lines:
// it is cut at its first line break.
void WriteINI(const std::string& file, const std::string& section, const std::string& key,
              const std::string& value);

// The longest value ReadINI returns (the profile functions' 255-character buffer, terminator
// included).
inline constexpr std::size_t kMaxIniValueLength = 254;

} // namespace CommonModule

namespace platform {
// The system's own profile functions, or their POSIX stand-in.
std::string ReadIniValue(const std::string& file, const std::string& section,
                         const std::string& key);
void WriteIniValue(const std::string& file, const std::string& section, const std::string& key,
                   const std::string& value);
} // namespace platform
