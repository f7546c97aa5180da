// The protected descriptors behind protected_dacl.h, for Windows code and its tests only (it
// speaks Win32 types).
#pragma once

#include "common/windows_api.h"

#include <string>
#include <vector>

namespace SetPerm {

enum class ProtectedObject {
    // The settings file and the check-run lock: SYSTEM and Administrators, nothing inherited.
    PrivateFile,
    // The installation folder: as above plus Users read and execute, each entry inherited by
    // files and subfolders.
    InstallFolder,
    // A registry key that holds a secret: SYSTEM and Administrators full control, inherited by
    // its subkeys, nobody else.
    PrivateKey,
};

// A self-relative security descriptor with only a protected DACL (no owner, group or SACL), fit
// for SECURITY_ATTRIBUTES and for SetSecurityInfo; empty when the system could not build it.
std::vector<BYTE> BuildProtectedDescriptor(ProtectedObject what);

// Puts the private-file DACL on a file opened with WRITE_DAC, and Administrators as its owner
// when the handle also has WRITE_OWNER: a file someone else created keeps no rights for them.
// Failures are logged under label; true when the DACL was stored.
bool ReprotectOpenFile(HANDLE file, const std::string& label);

// Puts the private-key DACL on a registry key opened with WRITE_DAC, and Administrators as its
// owner when the handle also has WRITE_OWNER, as ReprotectOpenFile does for a file.
bool ReprotectOpenKey(HKEY key, const std::string& label);

} // namespace SetPerm
