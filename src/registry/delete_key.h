// modRegistry: deleting a registry key with everything below it.
//
// fDeleteKey grants full access on each key before deleting it (SetPerm), deletes the subkeys
// depth-first, and when the deletion still fails resets owner and access with "subinacl.exe"
// (when present) and tries once more, then hands the job to "reg.exe". On POSIX the subtree
// goes in one transaction of the store and the tool fall-backs do not exist.
#pragma once

#include "registry/registry_store.h"

#include <cstdint>
#include <string>

namespace modRegistry {

// Deletes sParent\sKey below the root named sRoot (HKCU, HKLM, HKU, HKDD, HKCC, HKCR). Returns 0
// when the key was deleted or did not exist (then bNotFound is set to true, and otherwise left
// alone), 99 when sRoot names no root, else the registry error code of the last attempt.
long fDeleteKey(const std::string& sRoot, const std::string& sParent, const std::string& sKey,
                bool& bNotFound);

// Deletes every subkey of sPath below hRoot, deepest first, granting access on each before its
// deletion; sRoot is the root's name for the log and the grant. Works in the caller's view.
void fDeleteSubkeys(std::uintptr_t hRoot, const std::string& sPath, const std::string& sRoot,
                    store::View view);

// Runs "subinacl.exe" (when found) to make sOwner the owner of sKeyPath and its subkeys and
// give sGrantee full access. Empty accounts are filled with the defaults used. Windows only:
// elsewhere it does nothing.
void ResetRegKeyWithSubinacl(const std::string& sRoot, const std::string& sKeyPath,
                             std::string& sOwner, std::string& sGrantee);

} // namespace modRegistry
