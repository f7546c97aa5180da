// The check run's stored values under HKLM\Software\Quillfen\Addrwatch: the addresses last
// told and the marks of notices still owed.
#pragma once

#include <string>

namespace modGetExternalIP {

inline constexpr const char* kLastValue = "LastWANIP";
inline constexpr const char* kPendingValue = "PendingWANIP";
inline constexpr const char* kLastIPv6Value = "LastWANIPv6";
inline constexpr const char* kPendingIPv6Value = "PendingWANIPv6";

// A stored text; the empty text when it is absent or cannot be read.
std::string ReadStored(const char* name);
void Store(const char* name, const std::string& sText);
void DeleteStored(const char* name);

} // namespace modGetExternalIP
