// What one address family's stored values call for in a run: whether its notice is owed, and
// which stored values change. The at-least-once rules of LastWANIP/PendingWANIP, for either
// family, with IPv6 compared by its /64 prefix or by the whole address. Portable and pure.
#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace modGetExternalIP {

enum class IPv6Compare {
    Prefix,  // a new /64 is a change; a new address inside it is not
    Address, // any new address is a change
};

struct IPv6CompareSetting {
    IPv6Compare compare = IPv6Compare::Prefix;
    bool recognised = true; // false: a value that is neither "prefix" nor "address"
};

// IPv6Compare's value, blanks around it ignored, letters in any case: empty or "prefix" Prefix,
// "address" Address; anything else Prefix, not recognised.
IPv6CompareSetting IPv6CompareFromSetting(std::string_view value);

// "2001:db8:1:2::/64" for any address inside that /64; no value when the text is no IPv6 address.
std::optional<std::string> Prefix64Of(std::string_view address);

// What makes two values of a family the same for the notice: the text itself (IPv4, and IPv6
// compared by address), or the /64 prefix (a stored value that is no address compares as it
// stands).
enum class CompareBy { Text, Prefix64 };

struct StoredPair {
    std::string last;    // LastWANIP / LastWANIPv6, empty when absent
    std::string pending; // PendingWANIP / PendingWANIPv6, empty when absent
};

struct FamilyPlan {
    bool owed = false;         // the run's notice must cover this family as new
    bool writePending = false; // mark the notice owed before sending
    bool writeLast = false;    // the address seen differs from the stored one
    bool clearPending = false; // a mark for an address that is gone: drop it now
};

// The plan for the address a lookup found (no value: the lookup failed, nothing changes).
// Owed when it differs from the last one, or when a mark for it is left from a run that stopped
// before its notice was accepted. A mark for another address is dropped. Not owed, a new address
// that compares equal (a new one inside the same /64) is still stored, without a notice.
FamilyPlan PlanFamily(const std::optional<std::string>& current, const StoredPair& stored,
                      CompareBy by);

} // namespace modGetExternalIP
