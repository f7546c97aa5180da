#include "common/strip.h"

#include "common/dprint.h"

namespace CommonModule {

namespace {
// Positions were 16-bit signed numbers; an occurrence past this one ends the removal.
constexpr std::size_t kLastPosition = 32767;
} // namespace

std::string Strip(std::string_view psLine, std::string_view psRemoveStr) {
    std::string s(psLine);
    if (psRemoveStr.empty()) {
        return s;
    }
    // A removal can only create a new occurrence that overlaps its own position, so restarting
    // the search a little before it finds exactly what a restart from the beginning would.
    std::size_t from = 0;
    for (std::size_t p = s.find(psRemoveStr); p != std::string::npos;
         p = s.find(psRemoveStr, from)) {
        if (p + 1 > kLastPosition) {
            DPrint("CommonModule\\Strip VB ERROR: 6 Overflow");
            DPrint("\t- psLine=" + std::string(psLine));
            DPrint("\t- psRemoveStr=" + std::string(psRemoveStr));
            break;
        }
        s.erase(p, psRemoveStr.size());
        from = p >= psRemoveStr.size() ? p - psRemoveStr.size() + 1 : 0;
    }
    return s;
}

} // namespace CommonModule
