// Windows program location: GetModuleFileNameA of the executable.
#include "common/program_file.h"

#include "common/windows_api.h"

namespace platform {

std::string ProgramFilePath() {
    std::string path(MAX_PATH, '\0');
    for (;;) {
        const DWORD n = ::GetModuleFileNameA(nullptr, path.data(), static_cast<DWORD>(path.size()));
        if (n == 0) {
            return {};
        }
        if (n < path.size()) {
            path.resize(n);
            return path;
        }
        path.resize(path.size() * 2);
    }
}

char PathSeparator() {
    return '\\';
}

std::string_view ExecutableSuffix() {
    return ".exe";
}

} // namespace platform
