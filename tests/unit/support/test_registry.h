// Removes a registry key left by a test, with everything below it, in the 64-bit view (which
// holds the Wow6432Node subtree too). A missing key is fine.
#pragma once

#include <cstdint>
#include <string>

namespace testing_support {

void DeleteRegistryTree(std::uintptr_t root, const std::string& path);

} // namespace testing_support
