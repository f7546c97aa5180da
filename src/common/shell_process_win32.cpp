// Windows process start and watch: CreateProcessA with the show-window value in STARTUPINFO,
// OpenProcess(0x400) by identifier, GetExitCodeProcess, Sleep. Nothing else lives here.
#include "common/shell_process.h"

#include "common/win32_handle.h"

#include <vector>

namespace platform {

namespace {

constexpr DWORD kQueryInformation = 0x400; // PROCESS_QUERY_INFORMATION

std::string SystemMessage(DWORD code) {
    char* buffer = nullptr;
    const DWORD n = ::FormatMessageA(
        FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
        nullptr, code, 0, reinterpret_cast<char*>(&buffer), 0, nullptr);
    std::string text = n > 0 && buffer != nullptr ? std::string(buffer, n) : std::string();
    if (buffer != nullptr) {
        ::LocalFree(buffer);
    }
    while (!text.empty() && (text.back() == '\r' || text.back() == '\n' || text.back() == ' ')) {
        text.pop_back();
    }
    return text.empty() ? "Error " + std::to_string(code) : text;
}

VbError ErrorFromSystem(DWORD code) {
    switch (code) {
    case ERROR_FILE_NOT_FOUND:
    case ERROR_PATH_NOT_FOUND:
        return {53, "File not found"};
    case ERROR_ACCESS_DENIED:
        return {70, "Permission denied"};
    default:
        return {5, SystemMessage(code)};
    }
}

class Win32Process final : public StartedProcess {
public:
    Win32Process(win32::KernelHandle started, DWORD id) : started_(std::move(started)), id_(id) {}

    bool OpenForQuery() override {
        queried_.reset(::OpenProcess(kQueryInformation, FALSE, id_));
        return static_cast<bool>(queried_);
    }

    Outcome<unsigned long> ExitCode() override {
        DWORD code = 0;
        if (!::GetExitCodeProcess(queried_.get(), &code)) {
            return ErrorFromSystem(::GetLastError());
        }
        return static_cast<unsigned long>(code);
    }

private:
    // Held until the watch is over, so the identifier cannot name another process meanwhile.
    win32::KernelHandle started_;
    DWORD id_;
    win32::KernelHandle queried_;
};

} // namespace

Outcome<std::unique_ptr<StartedProcess>> StartProcess(const std::string& command, int windowStyle) {
    std::vector<char> line(command.begin(), command.end());
    line.push_back('\0');
    STARTUPINFOA startup{};
    startup.cb = sizeof(startup);
    startup.dwFlags = STARTF_USESHOWWINDOW;
    startup.wShowWindow = static_cast<WORD>(windowStyle);
    PROCESS_INFORMATION info{};
    if (!::CreateProcessA(nullptr, line.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr,
                          &startup, &info)) {
        return ErrorFromSystem(::GetLastError());
    }
    win32::KernelHandle thread(info.hThread);
    return std::unique_ptr<StartedProcess>(
        std::make_unique<Win32Process>(win32::KernelHandle(info.hProcess), info.dwProcessId));
}

void SleepMilliseconds(unsigned milliseconds) {
    ::Sleep(milliseconds);
}

} // namespace platform
