// modRegistry: one-call access to single registry values, hiding the 32/64-bit views.
//
// Root names (case-insensitive): HKCU, HKLM, HKU, HKDD, HKCC, HKCR. Any other root text names a
// settings file ("file mode"). Type letters (case-insensitive): S, E, M, B, D. Result codes: 0 for
// success, the platform's registry error code (2 not found, 5 access denied, 234 more data), or
// 99 for an unknown root. On POSIX the registry is an SQLite store with the same codes.
#pragma once

#include <cstdint>
#include <string>
#include <variant>

namespace modRegistry {

// Text for S, E and M (an M list is its entries each followed by a NUL, then one more NUL),
// a Boolean for B, a 32-bit number for D.
using RegValue = std::variant<std::string, bool, std::int32_t>;

// The value as the diagnostic lines show it.
std::string RegValueText(const RegValue& value);

// The root key for a root name; 1 for file mode (a file of that name exists); 0 for unknown.
std::uintptr_t fTopKey(const std::string& sRoot);

long fReadValue(const std::string& sRoot, const std::string& sKey, const std::string& sValueName,
                const std::string& sType, const RegValue& vDefault, RegValue& vResult);

long fWriteValue(const std::string& sRoot, const std::string& sKey, const std::string& sValueName,
                 const std::string& sType, const RegValue& vValue);

// Removes one value of a registry key, silently: 0, or 2 when it was not there. The key is opened
// as fWriteValue opens it (and so made when missing). Registry roots only (99 otherwise).
long fDeleteValue(const std::string& sRoot, const std::string& sKey, const std::string& sValueName);

} // namespace modRegistry
