// SetPerm's access-list builder, for Windows code and its tests only (it speaks Win32 types).
#pragma once

#include "common/windows_api.h"

#include <string>
#include <vector>

namespace SetPerm {

// One account to grant or deny. The builder looks the account up when sid is null and owns the
// identifier it found; a caller that fills sid keeps ownership of it.
struct PermissionEntry {
    std::string accountName;
    DWORD accessMask = 0;
    BYTE aceFlags = CONTAINER_INHERIT_ACE;
    BYTE aceType = ACCESS_ALLOWED_ACE_TYPE; // or ACCESS_DENIED_ACE_TYPE
    PSID sid = nullptr;
    bool sidSuppliedByCaller = false;
};

// Replaces the key's access list: deny entries of the list first, then the key's explicit
// entries for other accounts, then the allow entries of the list, then the inherited entries.
// True when the new list was stored on the key. The key needs READ_CONTROL and WRITE_DAC.
bool UpdatePermissionsOfRegistryKey(HKEY hKey, std::vector<PermissionEntry>& entries);

// Appends one entry of this kind, flags, mask and identifier at the end of pAcl.
bool ConstructAndAddAce(PACL pAcl, BYTE aceType, BYTE aceFlags, DWORD accessMask, PSID pSid);

// True when pSid is the identifier of any entry of the list.
bool IsEqual(const std::vector<PermissionEntry>& entries, PSID pSid);

} // namespace SetPerm
