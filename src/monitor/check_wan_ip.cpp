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
#include "mail/send_email.h"
#include "monitor/wan_ip.h"
#include "registry/registry.h"

#include <optional>
#include <string>
#include <variant>

namespace modGetExternalIP {

namespace {

constexpr const char* kRoot = "HKLM";
constexpr const char* kKey = "Software\\Quillfen\\Addrwatch";
constexpr const char* kLastValue = "LastWANIP";
constexpr const char* kPendingValue = "PendingWANIP";

// A stored text; the empty text when it is absent or cannot be read.
std::string ReadStored(const char* name) {
    modRegistry::RegValue value = std::string();
    if (modRegistry::fReadValue(kRoot, kKey, name, "S", std::string(), value) != 0) {
        return {};
    }
    const std::string* text = std::get_if<std::string>(&value);
    return text != nullptr ? *text : std::string();
}

void Store(const char* name, const std::string& sText) {
    modRegistry::fWriteValue(kRoot, kKey, name, "S", sText);
}

void ClearPending() {
    modRegistry::fDeleteValue(kRoot, kKey, kPendingValue);
}

} // namespace

health::CheckOutcome CheckWanIP() {
    std::vector<FailedPage> failed;
    const std::optional<std::string> found = GetWanIP(failed);
    if (!found) {
        // No page gave an address that passes ValidateAddress: the run changes nothing.
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
