// The POSIX stand-in for the daily task: one cron entry file. Pure text rules, testable anywhere.
#pragma once

#include <optional>
#include <string>

namespace modGetExternalIP {

// The entry file's name for a task name: ASCII letters lower-cased, every run of other
// characters one hyphen, none at either end ("Quillfen - Addrwatch" gives
// "quillfen-addrwatch"). Cron reads such names and skips names with dots.
std::string CronFileName(const std::string& taskName);

// The folder that holds the cron entries: $ADDRWATCH_CRON_DIR, else /etc/cron.d; ends in "/".
std::string CronFolder();

// The hour and minute of a scheduler time "hh:mm" or "hh:mm:ss" (two digits each, 00-23 and
// 00-59); nothing for any other text. Cron has no seconds; they are dropped.
struct CronTime {
    int hour = 0;
    int minute = 0;
};
std::optional<CronTime> ParseSchedulerTime(const std::string& startTime);

// The whole entry file: "M H * * * root <command>\n", the command being the executable's path in
// single quotes for the shell (a single quote in it written '\'') and every "%" escaped as "\%"
// since cron would turn it into a line break. Nothing when the time is not a time or the path
// is empty or holds a line break.
std::optional<std::string> CronEntryText(const std::string& startTime, const std::string& exePath);

} // namespace modGetExternalIP
