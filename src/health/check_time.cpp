#include "health/check_time.h"

#include "health/outcome_detail.h"

#include <chrono>
#include <cstdio>

namespace health {

std::string FormatUtc(std::time_t moment) {
    const std::tm* t = std::gmtime(&moment);
    if (t == nullptr) {
        return {};
    }
    char text[96];
    std::snprintf(text, sizeof text, "%04d-%02d-%02dT%02d:%02d:%02dZ", t->tm_year + 1900,
                  t->tm_mon + 1, t->tm_mday, t->tm_hour, t->tm_min, t->tm_sec);
    return text;
}

std::string NowUtc() {
    return FormatUtc(std::time(nullptr));
}

std::optional<std::time_t> ParseUtc(const std::string& text) {
    // Exactly "dddd-dd-ddTdd:dd:ddZ".
    constexpr std::string_view kShape = "dddd-dd-ddTdd:dd:ddZ";
    if (text.size() != kShape.size()) {
        return std::nullopt;
    }
    for (std::size_t i = 0; i < kShape.size(); ++i) {
        const bool digit = text[i] >= '0' && text[i] <= '9';
        if (kShape[i] == 'd' ? !digit : text[i] != kShape[i]) {
            return std::nullopt;
        }
    }
    auto number = [&](std::size_t at, std::size_t n) {
        int v = 0;
        for (std::size_t i = at; i < at + n; ++i) {
            v = v * 10 + (text[i] - '0');
        }
        return v;
    };
    using namespace std::chrono;
    const year_month_day date{year{number(0, 4)}, month{static_cast<unsigned>(number(5, 2))},
                              day{static_cast<unsigned>(number(8, 2))}};
    const int hh = number(11, 2), mm = number(14, 2), ss = number(17, 2);
    if (!date.ok() || hh > 23 || mm > 59 || ss > 60) {
        return std::nullopt;
    }
    const auto moment = sys_days(date) + hours(hh) + minutes(mm) + seconds(ss);
    return static_cast<std::time_t>(duration_cast<seconds>(moment.time_since_epoch()).count());
}

std::string StatusLine(const std::string& lastCheckTimeUtc, const std::string& detail) {
    const std::optional<std::time_t> moment = ParseUtc(lastCheckTimeUtc);
    const std::tm* t = moment ? std::localtime(&*moment) : nullptr;
    if (t == nullptr) {
        return "Last check: never";
    }
    char when[96];
    std::snprintf(when, sizeof when, "%04d-%02d-%02d %02d:%02d", t->tm_year + 1900, t->tm_mon + 1,
                  t->tm_mday, t->tm_hour, t->tm_min);
    std::string line = std::string("Last check: ") + when;
    const std::string shown = SanitiseDetail(detail);
    if (!shown.empty()) {
        line += " - " + shown;
    }
    return line;
}

} // namespace health
