#include "app/terminal.h"

#include "common/win32_handle.h"
#include "common/windows_api.h"

namespace platform {

namespace {

// A standard handle the program was started with, else the parent's console (attached once).
HANDLE TerminalHandle(DWORD which, const char* consoleName) {
    const HANDLE given = ::GetStdHandle(which);
    if (given != nullptr && given != INVALID_HANDLE_VALUE) {
        return given;
    }
    static const bool attached = ::AttachConsole(ATTACH_PARENT_PROCESS) != FALSE;
    if (!attached) {
        return INVALID_HANDLE_VALUE;
    }
    // Kept open for the life of the process, like the standard handles themselves.
    return ::CreateFileA(consoleName, GENERIC_READ | GENERIC_WRITE,
                         FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING, 0, nullptr);
}

HANDLE Output() {
    static const HANDLE h = TerminalHandle(STD_OUTPUT_HANDLE, "CONOUT$");
    return h;
}

HANDLE Input() {
    static const HANDLE h = TerminalHandle(STD_INPUT_HANDLE, "CONIN$");
    return h;
}

} // namespace

void WriteTerminalLine(const std::string& line) {
    const HANDLE h = Output();
    if (h == INVALID_HANDLE_VALUE) {
        return;
    }
    const std::string text = line + "\r\n";
    DWORD written = 0;
    ::WriteFile(h, text.data(), static_cast<DWORD>(text.size()), &written, nullptr);
}

std::string ReadTerminalLine() {
    const HANDLE h = Input();
    std::string line;
    if (h == INVALID_HANDLE_VALUE) {
        return line;
    }
    // A byte at a time: the line is short, and nothing past its end is taken.
    char c = 0;
    DWORD got = 0;
    while (line.size() < 64 * 1024 && ::ReadFile(h, &c, 1, &got, nullptr) && got == 1 &&
           c != '\n') {
        line.push_back(c);
    }
    if (!line.empty() && line.back() == '\r') {
        line.pop_back();
    }
    return line;
}

} // namespace platform
