// The redirect rule's invariants, shared by the targets that meet a Location.
#pragma once

#include <string_view>
#include <vector>

namespace fuzzing {

// Follows the locations in turn from the page first (which must parse) and aborts unless:
// only http and https are ever reached, a location with another scheme is never followed,
// the sixth redirect in a row is refused as one too many, a location without a scheme or "//"
// never leaves the page's server, and every page reached reads back as itself.
void CheckRedirects(std::string_view first, const std::vector<std::string_view>& locations);

} // namespace fuzzing
