#include "health/health_state.h"

#include <charconv>
#include <limits>

namespace health {

namespace {
unsigned long ParseCount(const std::string& text) {
    unsigned long value = 0;
    const char* end = text.data() + text.size();
    const auto [ptr, ec] = std::from_chars(text.data(), end, value);
    if (text.empty() || ec != std::errc() || ptr != end) {
        return 0;
    }
    return value;
}
} // namespace

unsigned long ParseFailedChecks(const std::string& stored) {
    return ParseCount(stored);
}

unsigned long ParseAlertAfter(const std::string& setting) {
    const auto first = setting.find_first_not_of(" \t");
    if (first == std::string::npos) {
        return 0;
    }
    return ParseCount(setting.substr(first, setting.find_last_not_of(" \t") + 1 - first));
}

HealthUpdate NextHealth(const StoredHealth& before, const CheckOutcome& outcome,
                        const std::string& nowUtc, unsigned long alertAfter) {
    HealthUpdate u;
    u.lastCheckTime = nowUtc;
    u.lastCheckResult = std::string(ResultText(outcome.result));
    u.lastCheckDetail = outcome.detail;
    if (!IsFailure(outcome.result)) {
        if (outcome.result == CheckResult::Notified) {
            u.lastNotifyTime = nowUtc;
        }
        u.failedChecks = "0";
        u.alertSent = "0";
        return u;
    }
    unsigned long count = ParseFailedChecks(before.failedChecks);
    if (count < std::numeric_limits<unsigned long>::max()) {
        ++count;
    }
    u.failedChecks = std::to_string(count);
    u.failingSince = count == 1 || before.failingSince.empty() ? nowUtc : before.failingSince;
    const bool alerted = before.alertSent == "1";
    u.alertSent = alerted ? "1" : "0";
    u.sendAlert = !alerted && alertAfter > 0 && count >= alertAfter &&
                  outcome.result == CheckResult::LookupFailed;
    return u;
}

} // namespace health
