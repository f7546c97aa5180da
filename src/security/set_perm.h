// SetPerm: full access on a registry key for the current user and the standard groups, granted
// before a key is deleted so that a restrictive access list does not stop the deletion.
//
// Windows rewrites the key's access list with the advapi32 security functions. The POSIX store
// has no access lists: there the grant does nothing and reports nothing.
#pragma once

#include <cstdint>
#include <string>

namespace SetPerm {

// The registry view the key is opened in. The grant must reach the key that the caller is
// about to delete, so it takes the caller's view. Default passes no view flag.
enum class KeyView { Default, View32, View64 };

// The access mask for a rights word: "R"/"Read"/"X"/"Execute" read (0x20019), "W"/"Write"
// write (0x20006), "ALL" and every other word full access (0xF003F). Case-sensitive.
std::uint32_t AccessMaskFromRights(const std::string& sRights);

// Grants full access, inheritable by subkeys, to the current user, "System", "Administrators",
// "Power Users" and "Users", in that order; one failed grant does not stop the others. sKey is
// the root abbreviation (HKCU, HKLM, HKU, HKCR, case-insensitive). Always returns false.
bool GetRegKeyPermissions(const std::string& sKey, const std::string& sPath,
                          KeyView view = KeyView::View32);

// One grant (or denial, for the exact text "Deny") of sRights to sAccount on the key. An empty
// account becomes the value of "username", an empty sAllowDeny "Allow"; both are written back.
// True when the key's access list was rewritten.
bool RegSetKeyPermission(const std::string& sKey, const std::string& sPath, std::string& sAccount,
                         std::string& sAllowDeny, const std::string& sRights,
                         KeyView view = KeyView::View32);

} // namespace SetPerm
