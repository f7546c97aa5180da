// Creating and deleting the daily task on this machine, for the install actions, the
// configuration window's schedule buttons and the uninstall actions.
//
// Windows: "schtasks.exe" through ShellX (waiting, hidden) with the command lines of
// daily_task.h. POSIX: a cron entry file in $ADDRWATCH_CRON_DIR (default /etc/cron.d), named by
// CronFileName (cron_entry.h).
//
// A start-up task is recorded in the store (value StartupTask of HKLM\Software\Quillfen\Addrwatch)
// when it is made, and every deletion of TaskName removes it too while that record exists, then
// clears the record. Without it the command lines are those of the daily task alone.
#pragma once

#include "app/daily_task.h"

#include <string>

namespace modGetExternalIP {

// Creates the task that starts this program at startTime (daily, or every options.everyHours
// hours from it), and with options.atStartup the start-up task StartupTaskName after it. Does not
// delete first: callers that replace a task delete it before. A time ParseSchedulerTime refuses
// creates nothing and is logged (Windows: "TaskTime is not a time of day (hh:mm:ss): " and the
// time); on POSIX a failure to write is logged and leaves any earlier entry as it was.
void CreateScheduleEntry(const std::string& startTime, const std::string& taskName = TaskName,
                         const ScheduleOptions& options = {});

// Deletes the task of that name; a task that does not exist is not an error. For TaskName, also
// the recorded start-up task.
void DeleteScheduleEntry(const std::string& taskName = TaskName);

} // namespace modGetExternalIP
