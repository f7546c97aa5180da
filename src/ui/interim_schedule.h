// Interim: the cron-entry routines' declarations until app/schedule.h is merged.
#pragma once
#include <string>
namespace modGetExternalIP {
void CreateScheduleEntry(const std::string& startTime);
void DeleteScheduleEntry();
} // namespace modGetExternalIP
