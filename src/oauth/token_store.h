// The stored refresh token and the time it was last renewed, under
// HKLM\Software\Quillfen\Addrwatch\OAuth: RefreshToken (Windows: a DPAPI blob of machine scope,
// REG_BINARY, in a subkey only SYSTEM and Administrators may open; POSIX: a value of the
// root-only store) and RefreshedAt (UTC, ISO 8601). These routines never log a value, unlike
// fReadValue and fWriteValue.
#pragma once

#include <chrono>
#include <optional>
#include <string>

namespace oauth::store {

inline constexpr const char* kOAuthKey = "Software\\Quillfen\\Addrwatch\\OAuth";
inline constexpr const char* kRefreshTokenValue = "RefreshToken";
inline constexpr const char* kRefreshedAtValue = "RefreshedAt";

// Replaces the stored token; false (with a log line that names no secret) when it failed.
bool SaveRefreshToken(const std::string& token);
// Nothing when there is none or it cannot be read.
std::optional<std::string> LoadRefreshToken();

bool SaveRefreshedAt(const std::string& isoTime);
std::optional<std::string> LoadRefreshedAt();

// Removes both values; absent ones are no error.
void DeleteStoredValues();

// "2026-12-11T15:58:19Z".
std::string FormatUtc(std::chrono::system_clock::time_point when);
// Reads what FormatUtc writes; nothing for anything else.
std::optional<std::chrono::system_clock::time_point> ParseUtc(const std::string& text);

} // namespace oauth::store
