#include "app/cron_entry.h"

#include <cstdlib>

namespace modGetExternalIP {

namespace {

bool IsDigit(char c) {
    return c >= '0' && c <= '9';
}

// Two digits at pos, at most max.
std::optional<int> TwoDigits(const std::string& s, std::size_t pos, int max) {
    if (pos + 2 > s.size() || !IsDigit(s[pos]) || !IsDigit(s[pos + 1])) {
        return std::nullopt;
    }
    const int v = (s[pos] - '0') * 10 + (s[pos + 1] - '0');
    return v <= max ? std::optional<int>(v) : std::nullopt;
}

} // namespace

std::string CronFolder() {
    const char* dir = std::getenv("ADDRWATCH_CRON_DIR");
    std::string folder = dir != nullptr && *dir != '\0' ? dir : "/etc/cron.d";
    if (folder.back() != '/') {
        folder += '/';
    }
    return folder;
}

std::string CronFileName(const std::string& taskName) {
    std::string name;
    bool gap = false;
    for (const char c : taskName) {
        const bool letter = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z');
        if (letter || IsDigit(c)) {
            if (gap && !name.empty()) {
                name += '-';
            }
            gap = false;
            name += (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c;
        } else {
            gap = true;
        }
    }
    return name;
}

std::optional<CronTime> ParseSchedulerTime(const std::string& t) {
    if (t.size() != 5 && t.size() != 8) {
        return std::nullopt;
    }
    const auto hour = TwoDigits(t, 0, 23);
    const auto minute = TwoDigits(t, 3, 59);
    if (!hour || !minute || t[2] != ':') {
        return std::nullopt;
    }
    if (t.size() == 8 && (t[5] != ':' || !TwoDigits(t, 6, 59))) {
        return std::nullopt;
    }
    return CronTime{*hour, *minute};
}

std::optional<std::string> CronEntryText(const std::string& startTime, const std::string& exePath) {
    const auto time = ParseSchedulerTime(startTime);
    if (!time || exePath.empty() || exePath.find_first_of("\r\n") != std::string::npos) {
        return std::nullopt;
    }
    std::string command = "'";
    for (const char c : exePath) {
        if (c == '\'') {
            command += "'\\''";
        } else if (c == '%') {
            command += "\\%";
        } else {
            command += c;
        }
    }
    command += "'";
    return std::to_string(time->minute) + " " + std::to_string(time->hour) + " * * * root " +
           command + "\n";
}

} // namespace modGetExternalIP
