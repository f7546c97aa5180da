// Windows: one Warning event in the Application log through ReportEventW, with the message table
// the program carries (messages.mc); the source key names the program as its message file.
#include "health/event_report.h"

#include "common/app_exe_path.h"
#include "common/dprint.h"
#include "common/win32_handle.h"
#include "common/win32_text.h"
#include "messages.h"

#include <string>

namespace health {

namespace {

constexpr const wchar_t* kSourceKey =
    L"SYSTEM\\CurrentControlSet\\Services\\EventLog\\Application\\Addrwatch";

void CloseEventSource(HANDLE h) {
    ::DeregisterEventSource(h);
}
using EventSourceHandle = win32::UniqueHandle<HANDLE, CloseEventSource>;
using RegistryKey = win32::UniqueHandle<HKEY, win32::CloseRegistryKey>;

} // namespace

void ReportFailureEvent(const std::string& line) {
    const std::wstring source = win32::AnsiToWide(kEventSource);
    const EventSourceHandle handle(::RegisterEventSourceW(nullptr, source.c_str()));
    if (!handle) {
        CommonModule::DPrint("health\\ReportFailureEvent: no event source: error " +
                             std::to_string(::GetLastError()));
        return;
    }
    const std::wstring text = win32::AnsiToWide(line);
    LPCWSTR strings[] = {text.c_str()};
    if (!::ReportEventW(handle.get(), EVENTLOG_WARNING_TYPE, 0, MSG_CHECK_FAILED, nullptr, 1, 0,
                        strings, nullptr)) {
        CommonModule::DPrint("health\\ReportFailureEvent: ReportEventW failed: error " +
                             std::to_string(::GetLastError()));
    }
}

bool RegisterEventLogSource() {
    HKEY raw = nullptr;
    LONG code = ::RegCreateKeyExW(HKEY_LOCAL_MACHINE, kSourceKey, 0, nullptr, 0,
                                  KEY_SET_VALUE | KEY_WOW64_64KEY, nullptr, &raw, nullptr);
    const RegistryKey key(code == ERROR_SUCCESS ? raw : nullptr);
    if (code == ERROR_SUCCESS) {
        const std::wstring file = win32::AnsiToWide(CommonModule::AppExePath());
        code = ::RegSetValueExW(key.get(), L"EventMessageFile", 0, REG_SZ,
                                reinterpret_cast<const BYTE*>(file.c_str()),
                                static_cast<DWORD>((file.size() + 1) * sizeof(wchar_t)));
    }
    if (code == ERROR_SUCCESS) {
        const DWORD types =
            EVENTLOG_ERROR_TYPE | EVENTLOG_WARNING_TYPE | EVENTLOG_INFORMATION_TYPE; // 7
        code = ::RegSetValueExW(key.get(), L"TypesSupported", 0, REG_DWORD,
                                reinterpret_cast<const BYTE*>(&types), sizeof types);
    }
    if (code != ERROR_SUCCESS) {
        CommonModule::DPrint("health\\RegisterEventLogSource: the event source was not registered: "
                             "error " +
                             std::to_string(code));
        return false;
    }
    return true;
}

// A plain tree deletion: the key is the system's, under Services, and keeps its own access list;
// nothing is granted to anyone first.
bool RemoveEventLogSource() {
    const LONG code = ::RegDeleteTreeW(HKEY_LOCAL_MACHINE, kSourceKey);
    if (code != ERROR_SUCCESS && code != ERROR_FILE_NOT_FOUND) {
        CommonModule::DPrint(
            "health\\RemoveEventLogSource: the event source was not removed: error " +
            std::to_string(code));
        return false;
    }
    return true;
}

} // namespace health
