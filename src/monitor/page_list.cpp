#include "monitor/page_list.h"

namespace modGetExternalIP {

std::vector<std::string> SplitPageList(std::string_view value) {
    constexpr std::string_view kBlanks = " \t";
    std::vector<std::string> pages;
    std::size_t start = value.find_first_not_of(kBlanks);
    while (start != std::string_view::npos) {
        const std::size_t end = value.find_first_of(kBlanks, start);
        pages.emplace_back(value.substr(start, end == std::string_view::npos ? end : end - start));
        start = value.find_first_not_of(kBlanks, end);
    }
    return pages;
}

} // namespace modGetExternalIP
