// A stand-in for a command-line tool (built as schtasks.exe and the like for the tests): appends
// the raw text of its command line after the program path, one line per start, to the file named
// by ADDRWATCH_RECORDER_LOG, or else to its own path with ".log" in place of ".exe". Exits 0.
#include <windows.h>

#include <string>

namespace {

std::wstring RecorderLog() {
    wchar_t buffer[32768];
    DWORD n = GetEnvironmentVariableW(L"ADDRWATCH_RECORDER_LOG", buffer, 32768);
    if (n > 0 && n < 32768) {
        return std::wstring(buffer, n);
    }
    n = GetModuleFileNameW(nullptr, buffer, 32768);
    std::wstring path(buffer, n);
    const auto dot = path.find_last_of(L'.');
    const auto slash = path.find_last_of(L"\\/");
    if (dot != std::wstring::npos && (slash == std::wstring::npos || dot > slash)) {
        path.resize(dot);
    }
    return path + L".log";
}

// What follows the program path, by the rule the system uses to find the program's end.
std::wstring Arguments(const wchar_t* s) {
    if (*s == L'"') {
        ++s;
        while (*s != 0 && *s++ != L'"') {
        }
    } else {
        while (*s != 0 && *s != L' ' && *s != L'\t') {
            ++s;
        }
    }
    while (*s == L' ' || *s == L'\t') {
        ++s;
    }
    return s;
}

} // namespace

int main() {
    const std::wstring args = Arguments(GetCommandLineW());
    const int n = WideCharToMultiByte(CP_ACP, 0, args.data(), static_cast<int>(args.size()),
                                      nullptr, 0, nullptr, nullptr);
    std::string line(static_cast<std::size_t>(n), '\0');
    WideCharToMultiByte(CP_ACP, 0, args.data(), static_cast<int>(args.size()), line.data(), n,
                        nullptr, nullptr);
    line += '\n';
    HANDLE file = CreateFileW(RecorderLog().c_str(), FILE_APPEND_DATA, FILE_SHARE_READ, nullptr,
                              OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) {
        return 1;
    }
    DWORD written = 0;
    WriteFile(file, line.data(), static_cast<DWORD>(line.size()), &written, nullptr);
    CloseHandle(file);
    return 0;
}
