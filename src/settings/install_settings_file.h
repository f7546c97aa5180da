// Putting a prepared settings file in place, and taking it away, for the package hooks that run
// as root or the system account in the program's folder.
#pragma once

#include <string>

namespace CommonModule {

// Copies source over target: a regular file of at most 1 MiB, written to a new private file beside
// target (Windows: SYSTEM and Administrators only; POSIX: its owner only) and renamed over it, so
// nobody reads the password on the way and a link or second name planted at target is replaced,
// never written through. True when target now holds source's bytes; a failure is logged and
// leaves target as it was.
bool InstallSettingsFile(const std::string& source, const std::string& target);

// Deletes target itself (a link goes, not what it names). True when nothing is left by that name.
bool RemoveSettingsFile(const std::string& target);

} // namespace CommonModule
