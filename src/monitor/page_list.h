// The check pages a WhatIsMyIP value lists.
#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace modGetExternalIP {

// The page addresses in the value, in order: the runs of text between blanks (spaces and tabs).
// A value made only of blanks lists no page.
std::vector<std::string> SplitPageList(std::string_view value);

} // namespace modGetExternalIP
