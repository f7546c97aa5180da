// The INI text rules of the POSIX settings file, as pure functions over the file's bytes, so the
// reader and the writer agree on every line and both can be tested and fuzzed anywhere.
//
// The rules are those of the Windows profile functions: lines end at CR LF, LF or CR; blanks
// around a line, a key and a value do not count; a line "[name]" (up to its last "]") opens a
// section (blanks around the name do not count); a line with "=" holds a key and a value, a line
// without one a key without a value; a line whose first character is ";" is a comment; sections and
// keys compare regardless of ASCII case and the first match wins; a matching pair of quotes around
// a value is removed; a UTF-8 byte-order mark at the start is skipped.
#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace ini {

// The value of key in the first section named section, or nothing when either is missing or
// the key has no "=". Not cut to any length.
std::optional<std::string> Lookup(std::string_view content, std::string_view section,
                                  std::string_view key);

// The content with key in section set to value: the key's line replaced in place, else the key
// added after the section's last entry, else the section and key appended. Every other byte of
// the content is kept. value must not hold a line break.
std::string Update(std::string_view content, std::string_view section, std::string_view key,
                   std::string_view value);

} // namespace ini
