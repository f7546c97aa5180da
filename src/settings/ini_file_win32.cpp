// Windows settings file: the system's profile functions, ANSI entry points. A write that would
// create the file creates it first, empty, with the private-file DACL (the file holds the mail
// password), so the profile functions never make it with the folder's inherited access list.
#include "settings/ini_file.h"

#include "common/dprint.h"
#include "common/win32_handle.h"
#include "common/win32_text.h"
#include "common/windows_api.h"
#include "security/protected_dacl_win32.h"

#include <vector>

namespace platform {

namespace {

// The file the profile functions use: a name without a folder lives in the Windows folder.
std::wstring ProfilePath(const std::string& file) {
    std::wstring path = win32::AnsiToWide(file);
    if (path.find_first_of(L"\\/") != std::wstring::npos) {
        return path;
    }
    wchar_t folder[MAX_PATH];
    const UINT n = ::GetWindowsDirectoryW(folder, MAX_PATH);
    if (n == 0 || n >= MAX_PATH) {
        return path;
    }
    return std::wstring(folder, n) + L"\\" + path;
}

// True when the file exists now, created here or before; an existing file is left as it is.
bool EnsurePrivateFile(const std::string& file) {
    std::vector<BYTE> descriptor =
        SetPerm::BuildProtectedDescriptor(SetPerm::ProtectedObject::PrivateFile);
    if (descriptor.empty()) {
        CommonModule::DPrint("WriteINI: " + file + ": no security descriptor, error " +
                             std::to_string(::GetLastError()) + "; nothing written");
        return false;
    }
    SECURITY_ATTRIBUTES attributes{sizeof attributes, descriptor.data(), FALSE};
    const win32::FileHandle created(
        ::CreateFileW(ProfilePath(file).c_str(), GENERIC_WRITE, 0, &attributes, CREATE_NEW,
                      FILE_ATTRIBUTE_NORMAL | FILE_FLAG_OPEN_REPARSE_POINT, nullptr));
    if (created) {
        return true;
    }
    // Anything else (no folder, no right to create) is a write the profile functions refuse too.
    const DWORD error = ::GetLastError();
    return error == ERROR_FILE_EXISTS || error == ERROR_ALREADY_EXISTS;
}

} // namespace

std::string ReadIniValue(const std::string& file, const std::string& section,
                         const std::string& key) {
    char buffer[CommonModule::kMaxIniValueLength + 1];
    const DWORD n = ::GetPrivateProfileStringA(section.c_str(), key.c_str(), "", buffer,
                                               sizeof buffer, file.c_str());
    return std::string(buffer, n);
}

void WriteIniValue(const std::string& file, const std::string& section, const std::string& key,
                   const std::string& value) {
    if (!EnsurePrivateFile(file)) {
        return;
    }
    ::WritePrivateProfileStringA(section.c_str(), key.c_str(), value.c_str(), file.c_str());
}

} // namespace platform
