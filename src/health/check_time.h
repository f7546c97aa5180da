// The times the health values are written in (UTC, "YYYY-MM-DDThh:mm:ssZ") and the window's
// status line, which shows them in local time.
#pragma once

#include <ctime>
#include <optional>
#include <string>

namespace health {

// "YYYY-MM-DDThh:mm:ssZ" for a moment.
std::string FormatUtc(std::time_t moment);
std::string NowUtc();
// The moment a text of that form names; nothing for any other text (a planted value shows as
// no time rather than a wrong one).
std::optional<std::time_t> ParseUtc(const std::string& text);

// "Last check: yyyy-mm-dd hh:mm - <detail>" with the time in local time; "Last check: never"
// when no run has been recorded (no time that parses).
std::string StatusLine(const std::string& lastCheckTimeUtc, const std::string& detail);

} // namespace health
