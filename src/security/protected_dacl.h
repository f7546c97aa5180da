// Access lists that keep other local users from reading the mail password or replacing what the
// system account runs: the installation folder and the settings file, for the setup program, an
// installer hook and the program itself.
//
// Windows: a protected DACL (nothing inherited from above) of well-known identifiers, so it
// holds on every language of the system. POSIX: the matching file mode.
#pragma once

#include <string>

namespace SetPerm {

// The folder: SYSTEM and Administrators full control, Users read and execute, all inherited by
// the files and folders inside. POSIX: mode 0755. A reparse point, a symbolic link or anything
// that is not a folder is refused. True when the access list was stored; a failure is logged.
bool ProtectInstallFolder(const std::string& path);

// The settings file: SYSTEM and Administrators full control, nobody else. POSIX: mode 0600.
// Refuses what is not a plain file, as above.
bool ProtectSettingsFile(const std::string& path);

} // namespace SetPerm
