// Windows: the prepared file is read whole (a disk file, at most 1 MiB), written to a new file
// that has the private access list from its creation, then moved over the settings file. A move
// replaces the name: a link or hard link planted there is never written through.
#include "settings/install_settings_file.h"

#include "common/dprint.h"
#include "common/win32_handle.h"
#include "common/win32_text.h"
#include "security/protected_dacl_win32.h"

#include <string>
#include <vector>

namespace CommonModule {

namespace {

constexpr DWORD kMaxSettingsFileSize = 1024 * 1024;

bool Fail(const std::string& what, DWORD error) {
    DPrint("InstallSettingsFile: " + what + ": error " + std::to_string(error));
    return false;
}

bool ReadPrepared(const std::string& source, std::string& bytes) {
    const win32::FileHandle file(::CreateFileW(win32::AnsiToWide(source).c_str(), GENERIC_READ,
                                               FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                                               FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!file) {
        return Fail(source, ::GetLastError());
    }
    LARGE_INTEGER size{};
    if (::GetFileType(file.get()) != FILE_TYPE_DISK || !::GetFileSizeEx(file.get(), &size) ||
        size.QuadPart > kMaxSettingsFileSize) {
        DPrint("InstallSettingsFile: " + source + ": not a disk file of at most 1 MiB");
        return false;
    }
    bytes.assign(static_cast<std::size_t>(size.QuadPart), '\0');
    DWORD read = 0;
    if (!bytes.empty() &&
        (!::ReadFile(file.get(), bytes.data(), static_cast<DWORD>(bytes.size()), &read, nullptr) ||
         read != bytes.size())) {
        return Fail(source, ::GetLastError());
    }
    return true;
}

} // namespace

bool InstallSettingsFile(const std::string& source, const std::string& target) {
    std::string bytes;
    if (!ReadPrepared(source, bytes)) {
        return false;
    }
    std::vector<BYTE> descriptor =
        SetPerm::BuildProtectedDescriptor(SetPerm::ProtectedObject::PrivateFile);
    if (descriptor.empty()) {
        return Fail("no security descriptor", ::GetLastError());
    }
    SECURITY_ATTRIBUTES attributes{sizeof attributes, descriptor.data(), FALSE};
    const std::wstring temp =
        win32::AnsiToWide(target + "." + std::to_string(::GetCurrentProcessId()) + ".new");
    {
        const win32::FileHandle file(
            ::CreateFileW(temp.c_str(), GENERIC_WRITE, 0, &attributes, CREATE_NEW,
                          FILE_ATTRIBUTE_NORMAL | FILE_FLAG_OPEN_REPARSE_POINT, nullptr));
        if (!file) {
            return Fail(win32::WideToAnsi(temp), ::GetLastError());
        }
        DWORD written = 0;
        if ((!bytes.empty() && (!::WriteFile(file.get(), bytes.data(),
                                             static_cast<DWORD>(bytes.size()), &written, nullptr) ||
                                written != bytes.size())) ||
            !::FlushFileBuffers(file.get())) {
            const DWORD error = ::GetLastError();
            ::DeleteFileW(temp.c_str());
            return Fail(win32::WideToAnsi(temp), error);
        }
    }
    if (!::MoveFileExW(temp.c_str(), win32::AnsiToWide(target).c_str(),
                       MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH)) {
        const DWORD error = ::GetLastError();
        ::DeleteFileW(temp.c_str());
        return Fail(target, error);
    }
    return true;
}

bool RemoveSettingsFile(const std::string& target) {
    // DeleteFile removes a symbolic link itself, never its target.
    if (::DeleteFileW(win32::AnsiToWide(target).c_str())) {
        return true;
    }
    const DWORD error = ::GetLastError();
    if (error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND) {
        return true;
    }
    return Fail(target, error);
}

} // namespace CommonModule
