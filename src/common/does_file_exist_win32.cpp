// Windows existence test. SearchPathA follows the legacy open-for-existence function's order for a
// bare name (program folder, current folder, system folders, Windows folder, PATH); a name with a
// folder part is opened directly, through the long-path form when it needs one, so the old
// 128-character buffer no longer makes long paths look absent.
#include "common/file_checks.h"

#include "common/win32_handle.h"
#include "common/win32_text.h"

#include <string>

namespace CommonModule {

namespace {

bool IsOpenableFile(const std::string& path) {
    std::wstring wide = win32::AnsiToWide(path);
    const bool absolute =
        wide.size() > 2 && wide[1] == L':' && (wide[2] == L'\\' || wide[2] == L'/');
    if (absolute && wide.size() >= MAX_PATH) {
        for (auto& c : wide) {
            if (c == L'/') {
                c = L'\\';
            }
        }
        wide = L"\\\\?\\" + wide;
    }
    const DWORD attributes = ::GetFileAttributesW(wide.c_str());
    if (attributes == INVALID_FILE_ATTRIBUTES || (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0) {
        return false;
    }
    win32::FileHandle file(::CreateFileW(wide.c_str(), GENERIC_READ,
                                         FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING,
                                         FILE_ATTRIBUTE_NORMAL, nullptr));
    return static_cast<bool>(file);
}

bool HasFolderPart(const std::string& name) {
    return name.find_first_of("\\/:") != std::string::npos;
}

} // namespace

bool DoesFileExist(std::string_view sFile) {
    if (sFile.empty()) {
        return false;
    }
    const std::string name(sFile);
    if (HasFolderPart(name)) {
        return IsOpenableFile(name);
    }
    char found[MAX_PATH];
    const DWORD n = ::SearchPathA(nullptr, name.c_str(), nullptr, MAX_PATH, found, nullptr);
    return n > 0 && n < MAX_PATH && IsOpenableFile(std::string(found, n));
}

} // namespace CommonModule
