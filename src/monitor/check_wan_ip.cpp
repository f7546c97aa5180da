// The check run: look up the WAN address, compare it with the one remembered, and on a change
// remember the new one and send the notice.
//
// A notice is delivered at least once. Before sending, the address is written to PendingWANIP as
// well as LastWANIP; only the server's acceptance removes PendingWANIP again, at the moment the
// server says so (before the session's goodbye). A run that finds PendingWANIP naming the current
// address knows an earlier run stopped before its notice was accepted, and sends it. Only a run
// stopped in the instant between the acceptance and the removal sends it twice.
#include "app/mode_handlers.h"
#include "health/outcome_detail.h"
#include "mail/oauth_logon.h"
#include "mail/send_email.h"
#include "monitor/check_both_families.h"
#include "monitor/stored_values.h"
#include "monitor/wan_ip.h"

#include <optional>
#include <string>

namespace modGetExternalIP {

namespace {

void ClearPending() {
    DeleteStored(kPendingValue);
}

} // namespace

health::CheckOutcome CheckWanIP() {
    if (IPv6Watched()) {
        return CheckBothFamilies();
    }
    std::vector<FailedPage> failed;
    const std::optional<std::string> found = GetWanIP(failed);
    if (!found) {
        // No page gave an address that passes ValidateAddress: the run changes nothing.
        modSendEmail::KeepSignInAlive();
        return health::LookupFailed(failed);
    }
    const std::string& current = *found;
    // With the check off a failed lookup still runs its course with "Unknown"; it is a failure
    // whatever is stored and sent for it.
    auto outcome = [&](health::CheckOutcome o) {
        return current == kUnknownAddress ? health::LookupFailed(failed) : o;
    };
    const std::string last = ReadStored(kLastValue);
    const std::string pending = ReadStored(kPendingValue);
    const bool unsent = !pending.empty() && pending == current;
    if (current == last && !unsent) {
        if (!pending.empty()) {
            // The address went back to the one last told before that notice could go out.
            ClearPending();
        }
        modSendEmail::KeepSignInAlive();
        return outcome(health::Unchanged(current));
    }
    // The mark goes first, so a crash at any later point leaves the notice owed.
    if (!unsent) {
        Store(kPendingValue, current);
    }
    if (current != last) {
        Store(kLastValue, current);
    }
    VbError failure;
    if (!modSendEmail::SendEmail(current, ClearPending, failure)) {
        if (current != last) {
            // The notice did not go out: put the old value back so the next run tries again.
            Store(kLastValue, last);
        }
        return outcome(health::NotifyFailed(failure));
    }
    return outcome(health::Notified(current));
}

} // namespace modGetExternalIP
