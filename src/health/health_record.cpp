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

#include <map>
#include <optional>
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

// A text value; nothing when it is absent or not text. Read quietly: these values are the
// program's own bookkeeping, not settings worth a diagnostic line each.
std::optional<std::string> ReadText(const store::Key& key, const char* name) {
    std::uint32_t type = 0;
    std::string data;
    std::size_t size = 0;
    if (store::QueryValue(key, name, 1024, type, data, size) != store::kSuccess ||
        (type != store::kString && type != store::kExpandString)) {
        return std::nullopt;
    }
    data.resize(size);
    while (!data.empty() && data.back() == '\0') {
        data.pop_back();
    }
    return data;
}

// The values as the store holds them now; a missing value is absent from the map.
using Values = std::map<std::string, std::string>;

Values ReadValues() {
    Values values;
    store::Key key;
    if (store::OpenKey(store::kLocalMachine, kKey, KeyView(), key) != store::kSuccess) {
        return values;
    }
    for (const char* name : {kLastCheckTime, kLastCheckResult, kLastCheckDetail, kLastNotifyTime,
                             kFailedChecks, kAlertSent, kFailingSince}) {
        if (std::optional<std::string> text = ReadText(key, name)) {
            values[name] = std::move(*text);
        }
    }
    return values;
}

std::string Get(const Values& values, const char* name) {
    const auto found = values.find(name);
    return found == values.end() ? std::string() : found->second;
}

// Writes the values that differ from what the store holds (a daily unchanged run rewrites little
// more than its time) and removes the ones named; one diagnostic message when any of it fails.
void WriteValues(const Values& before,
                 const std::vector<std::pair<const char*, std::string>>& values,
                 const std::vector<const char*>& removed = {}) {
    std::vector<std::pair<const char*, std::string>> changed;
    for (const auto& [name, text] : values) {
        const auto found = before.find(name);
        if (found == before.end() || found->second != text) {
            changed.emplace_back(name, text);
        }
    }
    std::vector<const char*> gone;
    for (const char* name : removed) {
        if (before.count(name) != 0) {
            gone.push_back(name);
        }
    }
    if (changed.empty() && gone.empty()) {
        return;
    }
    store::Key key;
    long code = store::CreateKey(store::kLocalMachine, kKey, KeyView(), key);
    for (const auto& [name, text] : changed) {
        if (code != store::kSuccess) {
            break;
        }
        code = store::SetValue(key, name, store::kString, text + '\0');
    }
    for (const char* name : gone) {
        if (code != store::kSuccess) {
            break;
        }
        if (const long deleted = store::DeleteValue(key, name); deleted != store::kNotFound) {
            code = deleted;
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

void Record(const Values& before, const HealthUpdate& u) {
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
        WriteValues(before, values, {kFailingSince});
    } else {
        values.emplace_back(kFailingSince, u.failingSince);
        WriteValues(before, values);
    }
}

} // namespace

void FinishCheckRun(const CheckOutcome& outcome) {
    const unsigned long alertAfter = ParseAlertAfter(
        CommonModule::ReadINI(CommonModule::sAppINI, "General", "AlertAfterFailures"));
    const Values before = ReadValues();
    const HealthUpdate update = NextHealth(
        {Get(before, kFailedChecks), Get(before, kAlertSent), Get(before, kFailingSince)}, outcome,
        NowUtc(), alertAfter);
    Record(before, update);
    if (IsFailure(outcome.result)) {
        ReportFailureEvent("Addrwatch check " + update.lastCheckResult + ": " + outcome.detail);
    }
    if (update.sendAlert && SendFailureAlert(update.failingSince, outcome.detail)) {
        WriteValues({}, {{kAlertSent, "1"}});
    }
    SendHeartbeat(outcome.result);
}

std::string StoredStatusLine() {
    store::Key key;
    if (store::OpenKey(store::kLocalMachine, kKey, KeyView(), key) != store::kSuccess) {
        return StatusLine({}, {});
    }
    return StatusLine(ReadText(key, kLastCheckTime).value_or(""),
                      ReadText(key, kLastCheckDetail).value_or(""));
}

} // namespace health
