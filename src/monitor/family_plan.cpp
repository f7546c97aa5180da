#include "monitor/family_plan.h"

#include "common/text.h"
#include "monitor/address_rule.h"

#include <cstddef>

namespace modGetExternalIP {

namespace {

std::string_view TrimBlanks(std::string_view value) {
    const std::size_t first = value.find_first_not_of(" \t");
    if (first == std::string_view::npos) {
        return {};
    }
    return value.substr(first, value.find_last_not_of(" \t") - first + 1);
}

std::string KeyOf(const std::string& value, CompareBy by) {
    if (by == CompareBy::Prefix64) {
        if (std::optional<std::string> prefix = Prefix64Of(value)) {
            return *prefix;
        }
    }
    return value;
}

} // namespace

IPv6CompareSetting IPv6CompareFromSetting(std::string_view value) {
    const std::string v = text::ToLowerAscii(TrimBlanks(value));
    if (v.empty() || v == "prefix") {
        return {IPv6Compare::Prefix, true};
    }
    if (v == "address") {
        return {IPv6Compare::Address, true};
    }
    return {IPv6Compare::Prefix, false};
}

std::optional<std::string> Prefix64Of(std::string_view address) {
    std::optional<IPv6Bytes> bytes = ParseIPv6(address);
    if (!bytes) {
        return std::nullopt;
    }
    for (std::size_t i = 8; i < bytes->size(); ++i) {
        (*bytes)[i] = 0;
    }
    return FormatIPv6(*bytes) + "/64";
}

FamilyPlan PlanFamily(const std::optional<std::string>& current, const StoredPair& stored,
                      CompareBy by) {
    FamilyPlan plan;
    if (!current) {
        return plan;
    }
    const std::string key = KeyOf(*current, by);
    const bool unsent = !stored.pending.empty() && KeyOf(stored.pending, by) == key;
    plan.owed = unsent || key != KeyOf(stored.last, by);
    plan.writePending = plan.owed && !unsent;
    plan.writeLast = *current != stored.last;
    plan.clearPending = !plan.owed && !stored.pending.empty();
    return plan;
}

} // namespace modGetExternalIP
