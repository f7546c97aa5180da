// What one check run came to: the kind of result and the one line that says why. The check run
// hands it back; the run mode records it, pings the heartbeat and reports failures.
#pragma once

#include <string>
#include <string_view>

namespace health {

enum class CheckResult { Unchanged, Notified, NotifyFailed, LookupFailed };

struct CheckOutcome {
    CheckResult result = CheckResult::Unchanged;
    std::string detail; // one line from the detail table (outcome_detail.h)
};

// The stored text: "unchanged", "notified", "notify-failed", "lookup-failed".
std::string_view ResultText(CheckResult result);

// notify-failed and lookup-failed: the runs that count as failing.
inline bool IsFailure(CheckResult result) {
    return result == CheckResult::NotifyFailed || result == CheckResult::LookupFailed;
}

} // namespace health
