// The two cryptographic primitives the sign-in needs, from the system: random bytes from the
// OS generator (BCryptGenRandom, getrandom) and SHA-256 (BCrypt on Windows, libcrypto loaded at
// run time on POSIX). Nothing when the system cannot provide them.
#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>

namespace oauth {

std::optional<std::string> RandomBytes(std::size_t count);
std::optional<std::string> Sha256(std::string_view data);

} // namespace oauth
