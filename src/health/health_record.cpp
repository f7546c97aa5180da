#include "health/health_record.h"

#include "common/dprint.h"
#include "common/file_checks.h"
#include "health/check_time.h"
#include "health/event_report.h"
#include "health/failure_alert.h"
#include "health/health_state.h"
#include "health/heartbeat.h"
#include "registry/registry_store.h"
#include "settings/app_settings.h"
#include "settings/ini_file.h"

#include <utility>
#include <vector>

namespace health {

namespace {

namespace store = modRegistry::store;

constexpr const char* kKey = "Software\\Quillfen\\Addrwatch";

// The view LastWANIP is written in, so the values sit beside it.
store::View KeyView() {
    return CommonModule::Is64bitOS("") ? store::View::View64 : store::View::Default;
}

// A text value, empty when it is absent or not text. Read quietly: these values are the
// program's own bookkeeping, not settings worth a diagnostic line each.
std::string ReadText(const store::Key& key, const char* name) {
    std::uint32_t type = 0;
    std::string data;
    std::size_t size = 0;
    if (store::QueryValue(key, name, 1024, type, data, size) != store::kSuccess ||
        (type != store::kString && type != store::kExpandString)) {
        return {};
    }
    data.resize(size);
    while (!data.empty() && data.back() == '\0') {
        data.pop_back();
    }
    return data;
}

StoredHealth ReadStoredHealth() {
    StoredHealth before;
    store::Key key;
    if (store::OpenKey(store::kLocalMachine, kKey, KeyView(), key) == store::kSuccess) {
        before.failedChecks = ReadText(key, kFailedChecks);
        before.alertSent = ReadText(key, kAlertSent);
        before.failingSince = ReadText(key, kFailingSince);
    }
    return before;
}

// Writes the values; one diagnostic message when any of them could not be written.
void WriteValues(const std::vector<std::pair<const char*, std::string>>& values,
                 const std::vector<const char*>& removed = {}) {
    store::Key key;
    long code = store::CreateKey(store::kLocalMachine, kKey, KeyView(), key);
    for (const auto& [name, text] : values) {
        if (code != store::kSuccess) {
            break;
        }
        code = store::SetValue(key, name, store::kString, text + '\0');
    }
    for (const char* name : removed) {
        if (code != store::kSuccess) {
            break;
        }
        if (const long gone = store::DeleteValue(key, name); gone != store::kNotFound) {
            code = gone;
        }
    }
    if (code == store::kSuccess && key.IsOpen()) {
        code = key.Close();
    }
    if (code != store::kSuccess) {
        CommonModule::DPrint("health\\FinishCheckRun: the check's outcome was not recorded: "
                             "result code " +
                             std::to_string(code));
    }
}

void Record(const HealthUpdate& u) {
    std::vector<std::pair<const char*, std::string>> values = {
        {kLastCheckTime, u.lastCheckTime},
        {kLastCheckResult, u.lastCheckResult},
        {kLastCheckDetail, u.lastCheckDetail},
        {kFailedChecks, u.failedChecks},
        {kAlertSent, u.alertSent},
    };
    if (u.lastNotifyTime) {
        values.emplace_back(kLastNotifyTime, *u.lastNotifyTime);
    }
    if (u.failingSince.empty()) {
        WriteValues(values, {kFailingSince});
    } else {
        values.emplace_back(kFailingSince, u.failingSince);
        WriteValues(values);
    }
}

} // namespace

void FinishCheckRun(const CheckOutcome& outcome) {
    const unsigned long alertAfter = ParseAlertAfter(
        CommonModule::ReadINI(CommonModule::sAppINI, "General", "AlertAfterFailures"));
    const HealthUpdate update = NextHealth(ReadStoredHealth(), outcome, NowUtc(), alertAfter);
    Record(update);
    if (IsFailure(outcome.result)) {
        ReportFailureEvent("Addrwatch check " + update.lastCheckResult + ": " + outcome.detail);
    }
    if (update.sendAlert && SendFailureAlert(update.failingSince, outcome.detail)) {
        WriteValues({{kAlertSent, "1"}});
    }
    SendHeartbeat(outcome.result);
}

std::string StoredStatusLine() {
    store::Key key;
    if (store::OpenKey(store::kLocalMachine, kKey, KeyView(), key) != store::kSuccess) {
        return StatusLine({}, {});
    }
    return StatusLine(ReadText(key, kLastCheckTime), ReadText(key, kLastCheckDetail));
}

} // namespace health
