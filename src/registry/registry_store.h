// The registry backend behind modRegistry: advapi32 on Windows, an SQLite database on POSIX.
//
// Every operation returns a Windows registry result code (0 success, 2 not found, 5 access
// denied, 234 more data, 1009 unusable database ...) and never throws. Root keys are the numbers
// fTopKey hands out, which on Windows are the predefined HKEY values themselves.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

namespace modRegistry::store {

// The predefined root keys, as Windows defines them (a 32-bit value, sign-extended to a pointer).
constexpr std::uintptr_t PredefinedKey(std::uint32_t value) {
    return static_cast<std::uintptr_t>(
        static_cast<std::intptr_t>(static_cast<std::int32_t>(value)));
}
inline constexpr std::uintptr_t kClassesRoot = PredefinedKey(0x80000000u);
inline constexpr std::uintptr_t kCurrentUser = PredefinedKey(0x80000001u);
inline constexpr std::uintptr_t kLocalMachine = PredefinedKey(0x80000002u);
inline constexpr std::uintptr_t kUsers = PredefinedKey(0x80000003u);
inline constexpr std::uintptr_t kCurrentConfig = PredefinedKey(0x80000005u);
inline constexpr std::uintptr_t kDynData = PredefinedKey(0x80000006u);

// Registry value types (REG_*).
inline constexpr std::uint32_t kString = 1;
inline constexpr std::uint32_t kExpandString = 2;
inline constexpr std::uint32_t kBinary = 3;
inline constexpr std::uint32_t kDword = 4;
inline constexpr std::uint32_t kMultiString = 7;

inline constexpr long kSuccess = 0;
inline constexpr long kNotFound = 2;
inline constexpr long kAccessDenied = 5;
inline constexpr long kMoreData = 234;
inline constexpr long kBadDatabase = 1009;
inline constexpr long kKeyDeleted = 1018;

// Which registry view of a 64-bit system a path is opened in. Default passes no view flag (a
// 32-bit system); View32 and View64 are KEY_WOW64_32KEY and KEY_WOW64_64KEY.
enum class View { Default, View32, View64 };

// An open key. Closes itself when dropped; Close reports the result of closing.
class Key {
public:
    Key();
    ~Key();
    Key(Key&&) noexcept;
    Key& operator=(Key&&) noexcept;
    Key(const Key&) = delete;
    Key& operator=(const Key&) = delete;

    bool IsOpen() const;
    long Close();

    struct Impl;
    std::unique_ptr<Impl> impl;
};

// Opens an existing key for querying values.
long OpenKey(std::uintptr_t root, const std::string& path, View view, Key& key);

// Opens a key for setting values and creating subkeys, creating it and any missing parents.
long CreateKey(std::uintptr_t root, const std::string& path, View view, Key& key);

// Reads a value into a buffer of capacity bytes, as RegQueryValueEx does: 0 with the data when
// it fits (size is its length), 234 when it does not (size is the length needed, data empty),
// 2 when the value is missing.
long QueryValue(const Key& key, const std::string& name, std::size_t capacity, std::uint32_t& type,
                std::string& data, std::size_t& size);

// Writes a value of the type with exactly these bytes, replacing any value of that name.
long SetValue(const Key& key, const std::string& name, std::uint32_t type, const std::string& data);

// Deletes a value of a key opened by CreateKey: 0, or 2 when there is no such value.
long DeleteValue(const Key& key, const std::string& name);

// POSIX store only (key deletion on Windows goes through advapi32 and its fall-backs):
// deletes a key with all its subkeys and values, in one statement.
long DeleteKeyTree(std::uintptr_t root, const std::string& path, View view);
// The names of the direct subkeys of a key, as written, in one query.
long EnumerateSubkeys(std::uintptr_t root, const std::string& path, View view,
                      std::vector<std::string>& names);

} // namespace modRegistry::store
