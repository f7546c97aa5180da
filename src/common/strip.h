#pragma once

#include <string>
#include <string_view>

namespace CommonModule {

// psLine with every occurrence of psRemoveStr removed, case-sensitively. Each search starts again
// at the beginning, so an occurrence formed by joining the two sides of a removal goes too
// ("aabb" without "ab" is ""). An empty psRemoveStr removes nothing.
std::string Strip(std::string_view psLine, std::string_view psRemoveStr);

} // namespace CommonModule
