#include "monitor/check_both_families.h"

#include "common/dprint.h"
#include "health/outcome_detail.h"
#include "mail/oauth_logon.h"
#include "mail/send_email.h"
#include "monitor/dual_stack_notice.h"
#include "monitor/family_plan.h"
#include "monitor/stable_addresses.h"
#include "monitor/stored_values.h"
#include "monitor/wan_ip.h"
#include "settings/app_settings.h"
#include "settings/ini_file.h"

#include <string>
#include <utility>
#include <vector>

namespace modGetExternalIP {

namespace {

struct Family {
    const char* lastName;
    const char* pendingName;
    FamilyLookup found;
    StoredPair stored;
    FamilyPlan plan;
};

Family Judge(const char* lastName, const char* pendingName, FamilyLookup found, CompareBy by) {
    Family f{lastName, pendingName, std::move(found), {}, {}};
    f.stored = {ReadStored(lastName), ReadStored(pendingName)};
    f.plan = PlanFamily(f.found.address, f.stored, by);
    return f;
}

CompareBy IPv6CompareBy() {
    const std::string value =
        CommonModule::ReadINI(CommonModule::sAppINI, "General", "IPv6Compare");
    const IPv6CompareSetting setting = IPv6CompareFromSetting(value);
    if (!setting.recognised) {
        CommonModule::DPrint("modGetExternalIP\\CheckWanIP: IPv6Compare=" + value +
                             " is neither prefix nor address; the /64 prefix is compared");
    }
    return setting.compare == IPv6Compare::Address ? CompareBy::Text : CompareBy::Prefix64;
}

// The values that change before the send: stale marks dropped, marks for owed notices set, and
// each address seen stored.
void StoreBeforeSending(const Family& f) {
    if (f.plan.clearPending) {
        DeleteStored(f.pendingName);
    }
    if (f.plan.writePending) {
        Store(f.pendingName, *f.found.address);
    }
    if (f.plan.writeLast) {
        Store(f.lastName, *f.found.address);
    }
}

NoticeFamily AsNotice(const Family& f) {
    return {f.found.address, f.found.reason, f.plan.owed};
}

// No page gave the family an address (or, with the check off, only the answer "Unknown").
bool LookupFailed(const Family& f) {
    return !f.found.address || *f.found.address == kUnknownAddress;
}

// The run's record: a lookup failure only when every family failed; otherwise it names the
// IPv4 address when that was found (and, for a notice, told as new), else the IPv6 one.
class Record {
public:
    Record(const Family& v4, const Family& v6) : v4_(v4), v6_(v6) {}

    health::CheckOutcome Unchanged() const {
        return AllFailed() ? Failed() : health::Unchanged(Seen());
    }
    health::CheckOutcome Notified() const {
        return AllFailed() ? Failed() : health::Notified(Told());
    }
    health::CheckOutcome NotifyFailed(const VbError& failure) const {
        return AllFailed() ? Failed() : health::NotifyFailed(failure);
    }

private:
    bool AllFailed() const { return LookupFailed(v4_) && LookupFailed(v6_); }
    health::CheckOutcome Failed() const {
        std::vector<FailedPage> failed = v4_.found.failed;
        failed.insert(failed.end(), v6_.found.failed.begin(), v6_.found.failed.end());
        return health::LookupFailed(failed);
    }
    const std::string& Seen() const {
        return LookupFailed(v4_) ? *v6_.found.address : *v4_.found.address;
    }
    const std::string& Told() const {
        const bool v4Told = v4_.plan.owed && !LookupFailed(v4_);
        return v4Told || LookupFailed(v6_) ? *v4_.found.address : *v6_.found.address;
    }

    const Family& v4_;
    const Family& v6_;
};

} // namespace

bool IPv6Watched() {
    return WanIPv6PageList().find_first_not_of(" \t") != std::string::npos;
}

health::CheckOutcome CheckBothFamilies() {
    Family v4 = Judge(kLastValue, kPendingValue, GetWanIPv4BesideIPv6(), CompareBy::Text);
    Family v6 = Judge(kLastIPv6Value, kPendingIPv6Value, GetWanIPv6(), IPv6CompareBy());
    StoreBeforeSending(v4);
    StoreBeforeSending(v6);
    const Record record(v4, v6);
    if (!v4.plan.owed && !v6.plan.owed) {
        // Nothing to tell; a new address inside the same /64 was stored above.
        modSendEmail::KeepSignInAlive();
        return record.Unchanged();
    }
    std::vector<std::string> reachable;
    if (v6.found.address) {
        reachable = StableAddressesIn(*v6.found.address, MachineIPv6Addresses());
    }
    const std::string lines = DualStackNoticeLines(AsNotice(v4), AsNotice(v6), reachable);
    const auto accepted = [&] {
        for (const Family* f : {&v4, &v6}) {
            if (f->plan.owed) {
                DeleteStored(f->pendingName);
            }
        }
    };
    VbError failure;
    if (modSendEmail::SendNotice(lines, accepted, failure)) {
        return record.Notified();
    }
    // The notice did not go out: each address it told as new is put back, so the next run
    // tries again.
    for (const Family* f : {&v4, &v6}) {
        if (f->plan.owed && f->plan.writeLast) {
            Store(f->lastName, f->stored.last);
        }
    }
    return record.NotifyFailed(failure);
}

} // namespace modGetExternalIP
