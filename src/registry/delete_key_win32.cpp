// Key deletion on Windows: advapi32 in the view the caller chose, and the two command-line
// fall-backs, "subinacl.exe" (optional) and "reg.exe".
#include "registry/delete_key.h"
#include "registry/delete_key_backend.h"

#include "common/dprint.h"
#include "common/file_checks.h"
#include "common/shell.h"
#include "common/text.h"
#include "common/win32_handle.h"
#include "settings/app_settings.h"

namespace modRegistry {

namespace deletion {

namespace {

REGSAM ViewFlag(store::View view) {
    switch (view) {
    case store::View::View32:
        return KEY_WOW64_32KEY;
    case store::View::View64:
        return KEY_WOW64_64KEY;
    default:
        return 0;
    }
}

long Open(std::uintptr_t root, const std::string& path, store::View view, REGSAM access,
          OpenedKey& key) {
    key.Close();
    HKEY h = nullptr;
    const long code =
        ::RegOpenKeyExA(reinterpret_cast<HKEY>(root), path.c_str(), 0, access | ViewFlag(view), &h);
    if (code == ERROR_SUCCESS) {
        key.root = root;
        key.path = path;
        key.view = view;
        key.handle = reinterpret_cast<std::uintptr_t>(h);
        key.open = true;
    }
    return code;
}

} // namespace

void OpenedKey::Close() {
    if (open) {
        ::RegCloseKey(reinterpret_cast<HKEY>(handle));
        open = false;
        handle = 0;
    }
}

long OpenForSubkeyChange(std::uintptr_t root, const std::string& path, store::View view,
                         OpenedKey& key) {
    return Open(root, path, view, KEY_CREATE_SUB_KEY, key);
}

long OpenForFullAccess(std::uintptr_t root, const std::string& path, store::View view,
                       OpenedKey& key) {
    return Open(root, path, view, KEY_ALL_ACCESS, key);
}

std::vector<std::string> SubkeyNames(const OpenedKey& key) {
    std::vector<std::string> names;
    for (DWORD index = 0;; ++index) {
        char name[256];
        DWORD length = sizeof name;
        if (::RegEnumKeyExA(reinterpret_cast<HKEY>(key.handle), index, name, &length, nullptr,
                            nullptr, nullptr, nullptr) != ERROR_SUCCESS) {
            break;
        }
        names.emplace_back(name, ::strnlen(name, sizeof name));
    }
    return names;
}

long DeleteSubkey(const OpenedKey& parent, const std::string& name) {
    const HKEY h = reinterpret_cast<HKEY>(parent.handle);
    if (parent.view == store::View::Default) {
        return ::RegDeleteKeyA(h, name.c_str());
    }
    return ::RegDeleteKeyExA(h, name.c_str(), ViewFlag(parent.view), 0);
}

bool DeletesSubtreeAtOnce() {
    return false;
}

void DeleteWithRegExe(const std::string& fullKey) {
    CommonModule::DPrint(
        "modRegistry\\fDeleteKey:  Still not working, attempting deletion with reg.exe");
    CommonModule::DPrint("\tcmd:  reg.exe delete \"" + fullKey + "\" /f");
    CommonModule::ShellX("reg.exe", "DELETE \"" + fullKey + "\" /f", true, 0);
}

} // namespace deletion

namespace {

std::string EnvironmentValue(const char* name) {
    char buffer[1024];
    const DWORD n = ::GetEnvironmentVariableA(name, buffer, sizeof buffer);
    return n > 0 && n < sizeof buffer ? std::string(buffer, n) : std::string();
}

std::string ToolKeyName(const std::string& sRoot, const std::string& sKeyPath) {
    static const struct {
        const char* abbreviation;
        const char* name;
    } roots[] = {
        {"HKCU", "HKEY_CURRENT_USER"},   {"HKLM", "HKEY_LOCAL_MACHINE"},
        {"HKU", "HKEY_USERS"},           {"HKDD", "HKEY_DYN_DATA"},
        {"HKCC", "HKEY_CURRENT_CONFIG"}, {"HKCR", "HKEY_CLASSES_ROOT"},
    };
    const std::string upper = text::ToUpperAscii(sRoot);
    for (const auto& r : roots) {
        if (upper == r.abbreviation) {
            return std::string(r.name) + "\\" + sKeyPath;
        }
    }
    return {};
}

} // namespace

void ResetRegKeyWithSubinacl(const std::string& sRoot, const std::string& sKeyPath,
                             std::string& sOwner, std::string& sGrantee) {
    const std::string key = ToolKeyName(sRoot, sKeyPath);
    if (key.empty()) {
        return;
    }
    const std::string user = EnvironmentValue("username");
    if (sOwner.empty()) {
        sOwner = text::ToUpperAscii(sRoot) == "HKCU" && !user.empty() ? user : "administrators";
    }
    if (sGrantee.empty()) {
        sGrantee = !user.empty() ? user : "System";
    }

    // The last place that has the tool wins.
    const std::string systemRoot = EnvironmentValue("systemroot");
    std::string tool;
    for (const std::string& candidate :
         {systemRoot + "\\subinacl.exe", systemRoot + "\\System32\\subinacl.exe",
          CommonModule::AppPath() + "subinacl.exe"}) {
        if (CommonModule::DoesFileExist(candidate)) {
            tool = candidate;
        }
    }
    if (tool.empty()) {
        return;
    }
    const std::string accounts = " /setowner=" + sOwner + " /grant=" + sGrantee + "=f";
    std::string error;
    CommonModule::ShellAndWaitForTermination("\"" + tool + "\" /keyreg \"" + key + "\"" + accounts,
                                             1, error);
    CommonModule::ShellAndWaitForTermination(
        "\"" + tool + "\" /subkeyreg \"" + key + "\"" + accounts, 1, error);
}

} // namespace modRegistry
