// The check pages a WhatIsMyIP value lists.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

namespace modGetExternalIP {

// The page addresses in the value, in order: the runs of text between blanks (spaces and tabs).
// A value made only of blanks lists no page.
std::vector<std::string> SplitPageList(std::string_view value);

struct PageList {
    std::vector<std::string> pages;
    // The last entry when the read may have cut it; empty otherwise.
    std::string cut;
};

// The pages of a value read with at most readLimit characters. A value of exactly that length
// may be the front of a longer one, and its last entry the front of a longer address: unless the
// value ends in a blank, that entry is set aside rather than asked. (A list of exactly the limit
// that was not cut loses its last entry too; a blank at its end keeps it.)
PageList ReadPageList(std::string_view value, std::size_t readLimit);

} // namespace modGetExternalIP
