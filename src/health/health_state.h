// The health values a check run leaves under the program's key, and the rules that take them
// from one run to the next. Pure: the store's reading and writing is in health_record.cpp.
#pragma once

#include "health/check_outcome.h"

#include <optional>
#include <string>

namespace health {

// Value names under HKLM\Software\Quillfen\Addrwatch (POSIX: the store). All are text ("S").
inline constexpr const char* kLastCheckTime = "LastCheckTime";
inline constexpr const char* kLastCheckResult = "LastCheckResult";
inline constexpr const char* kLastCheckDetail = "LastCheckDetail";
inline constexpr const char* kLastNotifyTime = "LastNotifyTime";
inline constexpr const char* kFailedChecks = "FailedChecks";
inline constexpr const char* kAlertSent = "AlertSent";
// When the present stretch of failing runs began; the failure alert says since when.
inline constexpr const char* kFailingSince = "FailingSince";

// What the values said before the run, as read (missing values are empty).
struct StoredHealth {
    std::string failedChecks;
    std::string alertSent;
    std::string failingSince;
};

// What the run writes. A value without text is left as it is.
struct HealthUpdate {
    std::string lastCheckTime;
    std::string lastCheckResult;
    std::string lastCheckDetail;
    std::optional<std::string> lastNotifyTime;
    std::string failedChecks;
    std::string alertSent;    // "1" or "0"
    std::string failingSince; // empty after a good run: the value is removed
    // The failure alert is due: FailedChecks reached alertAfter in a lookup-failed run and none
    // has gone out in this stretch. AlertSent becomes "1" only once it was accepted.
    bool sendAlert = false;
};

// The number a stored FailedChecks holds; 0 for anything but decimal digits (a planted or
// damaged value starts the count again rather than stopping it).
unsigned long ParseFailedChecks(const std::string& stored);

// AlertAfterFailures as a count: 0 (never) for missing, empty, zero or not a whole number.
unsigned long ParseAlertAfter(const std::string& setting);

// The values after a run that ended in outcome at nowUtc ("YYYY-MM-DDThh:mm:ssZ").
HealthUpdate NextHealth(const StoredHealth& before, const CheckOutcome& outcome,
                        const std::string& nowUtc, unsigned long alertAfter);

} // namespace health
