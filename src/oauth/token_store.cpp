#include "oauth/token_store.h"

#include <charconv>
#include <cstdio>

namespace oauth::store {

std::string FormatUtc(std::chrono::system_clock::time_point when) {
    using namespace std::chrono;
    const auto day = floor<days>(when);
    const year_month_day date(day);
    const hh_mm_ss time(floor<seconds>(when - day));
    char text[32];
    std::snprintf(text, sizeof text, "%04d-%02u-%02uT%02d:%02d:%02dZ", int(date.year()),
                  unsigned(date.month()), unsigned(date.day()), int(time.hours().count()),
                  int(time.minutes().count()), int(time.seconds().count()));
    return text;
}

std::optional<std::chrono::system_clock::time_point> ParseUtc(const std::string& text) {
    using namespace std::chrono;
    // YYYY-MM-DDTHH:MM:SSZ, fixed width.
    if (text.size() != 20 || text[4] != '-' || text[7] != '-' || text[10] != 'T' ||
        text[13] != ':' || text[16] != ':' || text[19] != 'Z') {
        return std::nullopt;
    }
    auto number = [&](std::size_t at, std::size_t width) -> std::optional<int> {
        int value = 0;
        const char* first = text.data() + at;
        const auto [end, ec] = std::from_chars(first, first + width, value);
        if (ec != std::errc() || end != first + width || *first == '-' || *first == '+') {
            return std::nullopt;
        }
        return value;
    };
    const auto y = number(0, 4), mo = number(5, 2), d = number(8, 2), h = number(11, 2),
               mi = number(14, 2), s = number(17, 2);
    if (!y || !mo || !d || !h || !mi || !s || *h > 23 || *mi > 59 || *s > 59) {
        return std::nullopt;
    }
    const year_month_day date{year(*y), month(static_cast<unsigned>(*mo)),
                              day(static_cast<unsigned>(*d))};
    if (!date.ok()) {
        return std::nullopt;
    }
    return sys_days(date) + hours(*h) + minutes(*mi) + seconds(*s);
}

} // namespace oauth::store
