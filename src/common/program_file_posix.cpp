// POSIX program location: /proc/self/exe.
#include "common/program_file.h"

#include <climits>
#include <unistd.h>

namespace platform {

std::string ProgramFilePath() {
    std::string path(PATH_MAX, '\0');
    const ssize_t n = ::readlink("/proc/self/exe", path.data(), path.size());
    if (n <= 0) {
        return {};
    }
    path.resize(static_cast<std::size_t>(n));
    return path;
}

char PathSeparator() {
    return '/';
}

std::string_view ExecutableSuffix() {
    return {};
}

} // namespace platform
