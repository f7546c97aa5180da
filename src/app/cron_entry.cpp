#include "app/cron_entry.h"

#include <cstdlib>

namespace modGetExternalIP {

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
        if (letter || (c >= '0' && c <= '9')) {
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

namespace {

// The hour field: the time's own hour, or every everyHours hours through the day from it.
std::string HourField(int hour, int everyHours) {
    if (everyHours == 0) {
        return std::to_string(hour);
    }
    std::string hours;
    for (int h = hour % everyHours; h < 24; h += everyHours) {
        hours += (hours.empty() ? "" : ",") + std::to_string(h);
    }
    return hours;
}

} // namespace

std::optional<std::string> CronEntryText(const std::string& startTime, const std::string& exePath,
                                         const ScheduleOptions& options) {
    const auto time = ParseSchedulerTime(startTime);
    if (!time || exePath.empty() || exePath.find_first_of("\r\n") != std::string::npos ||
        (options.everyHours != 0 && !IsCheckEveryHours(options.everyHours))) {
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
    std::string text = std::to_string(time->minute) + " " +
                       HourField(time->hour, options.everyHours) + " * * * root " + command + "\n";
    if (options.atStartup) {
        text += "@reboot root sleep 120 && " + command + "\n";
    }
    return text;
}

} // namespace modGetExternalIP
