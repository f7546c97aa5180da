// The schedule on every platform: the record of a start-up task, so that whatever deletes the
// task deletes that one too, and only where one was made.
#include "app/schedule.h"

#include "app/schedule_backend.h"
#include "registry/registry.h"

namespace modGetExternalIP {

namespace {

constexpr const char* kRoot = "HKLM";
constexpr const char* kKey = "Software\\Quillfen\\Addrwatch";
constexpr const char* kStartupValue = "StartupTask";

bool StartupTaskRecorded() {
    modRegistry::RegValue value = std::string();
    return modRegistry::fReadValue(kRoot, kKey, kStartupValue, "S", std::string(), value) == 0;
}

} // namespace

void CreateScheduleEntry(const std::string& startTime, const std::string& taskName,
                         const ScheduleOptions& options) {
    if (schedule_backend::MakeEntries(startTime, taskName, options)) {
        modRegistry::fWriteValue(kRoot, kKey, kStartupValue, "S", std::string("1"));
    }
}

void DeleteScheduleEntry(const std::string& taskName) {
    // Read only when it matters: a missing record is read silently, and another name never had
    // a start-up task.
    const bool startup = taskName == TaskName && StartupTaskRecorded();
    schedule_backend::RemoveEntries(taskName, startup);
    if (startup) {
        modRegistry::fDeleteValue(kRoot, kKey, kStartupValue);
    }
}

} // namespace modGetExternalIP
