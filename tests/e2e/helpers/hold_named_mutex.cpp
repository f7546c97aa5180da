// Test-only (Windows): a squatter on a named mutex. Creates and owns the mutex, then creates the
// ready file and holds the mutex until its standard input ends (or it is killed).
// Usage: hold_named_mutex <mutex name> <ready file>. Exit code 0 once released, 1 when the mutex
// could not be had.
#include "common/windows_api.h"

#include <cstdio>
#include <string>

int main(int argc, char** argv) {
    if (argc != 3) {
        std::fputs("usage: hold_named_mutex <mutex name> <ready file>\n", stderr);
        return 2;
    }
    HANDLE mutex = CreateMutexA(nullptr, TRUE, argv[1]);
    if (mutex == nullptr || GetLastError() == ERROR_ALREADY_EXISTS) {
        std::fprintf(stderr, "hold_named_mutex: %s: error %lu\n", argv[1], GetLastError());
        return 1;
    }
    HANDLE ready = CreateFileA(argv[2], GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                               FILE_ATTRIBUTE_NORMAL, nullptr);
    if (ready == INVALID_HANDLE_VALUE) {
        return 1;
    }
    CloseHandle(ready);
    char buffer[64];
    DWORD n = 0;
    while (ReadFile(GetStdHandle(STD_INPUT_HANDLE), buffer, sizeof buffer, &n, nullptr) && n > 0) {
    }
    ReleaseMutex(mutex);
    CloseHandle(mutex);
    return 0;
}
