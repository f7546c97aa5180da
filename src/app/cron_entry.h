// The POSIX stand-in for the daily task: one cron entry file. Pure text rules, testable anywhere.
#pragma once

#include "app/daily_task.h"

#include <optional>
#include <string>

namespace modGetExternalIP {

// The entry file's name for a task name: ASCII letters lower-cased, every run of other
// characters one hyphen, none at either end ("Quillfen - Addrwatch" gives
// "quillfen-addrwatch"). Cron reads such names and skips names with dots.
std::string CronFileName(const std::string& taskName);

// The folder that holds the cron entries: $ADDRWATCH_CRON_DIR, else /etc/cron.d; ends in "/".
std::string CronFolder();

// The whole entry file: "M H * * * root <command>\n" (cron has no seconds; they are dropped), the
// command being the executable's path in single quotes for the shell (a single quote in it written
// '\'') and every "%" escaped as "\%" since cron would turn it into a line break. Nothing when the
// time is not a time or the path is empty or holds a line break.
// Every few hours, H is the list of the hours from the time's hour on, N apart, in ascending order
// ("0 4,10,16,22 * * * ..." for 10:00 every 6 hours); a start-up check adds the line
// "@reboot root sleep 120 && <command>\n", 2 minutes late so the network is up.
std::optional<std::string> CronEntryText(const std::string& startTime, const std::string& exePath,
                                         const ScheduleOptions& options = {});

} // namespace modGetExternalIP
