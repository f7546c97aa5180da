#include "monitor/page_list.h"

namespace modGetExternalIP {

namespace {

constexpr std::string_view kBlanks = " \t";

} // namespace

std::vector<std::string> SplitPageList(std::string_view value) {
    std::vector<std::string> pages;
    std::size_t start = value.find_first_not_of(kBlanks);
    while (start != std::string_view::npos) {
        const std::size_t end = value.find_first_of(kBlanks, start);
        pages.emplace_back(value.substr(start, end == std::string_view::npos ? end : end - start));
        start = value.find_first_not_of(kBlanks, end);
    }
    return pages;
}

PageList ReadPageList(std::string_view value, std::size_t readLimit) {
    PageList list{SplitPageList(value), {}};
    const bool mayBeCut = value.size() >= readLimit && !list.pages.empty() &&
                          kBlanks.find(value.back()) == std::string_view::npos;
    if (mayBeCut) {
        list.cut = std::move(list.pages.back());
        list.pages.pop_back();
    }
    return list;
}

} // namespace modGetExternalIP
