#include "app/cron_entry.h"

#include "app/daily_task.h"

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
