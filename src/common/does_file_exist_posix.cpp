// POSIX existence test with the search order of the Windows legacy function: a bare name is
// looked for in the program's folder, the current folder, then each folder of PATH.
#include "common/file_checks.h"

#include "common/program_file.h"

#include <cstdlib>
#include <fcntl.h>
#include <string>
#include <sys/stat.h>
#include <unistd.h>

namespace CommonModule {

namespace {

bool IsOpenableFile(const std::string& path) {
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
    if (fd < 0) {
        return false;
    }
    struct stat st {};
    const bool regular = ::fstat(fd, &st) == 0 && !S_ISDIR(st.st_mode);
    ::close(fd);
    return regular;
}

std::string FolderOf(const std::string& path) {
    const auto slash = path.rfind('/');
    return slash == std::string::npos ? std::string() : path.substr(0, slash + 1);
}

} // namespace

bool DoesFileExist(std::string_view sFile) {
    if (sFile.empty()) {
        return false;
    }
    const std::string name(sFile);
    if (name.find('/') != std::string::npos) {
        return IsOpenableFile(name);
    }
    const std::string programFolder = FolderOf(platform::ProgramFilePath());
    if (!programFolder.empty() && IsOpenableFile(programFolder + name)) {
        return true;
    }
    if (IsOpenableFile(name)) {
        return true;
    }
    const char* path = std::getenv("PATH");
    if (path == nullptr) {
        return false;
    }
    std::string_view rest(path);
    while (true) {
        const auto colon = rest.find(':');
        std::string folder(rest.substr(0, colon));
        if (!folder.empty() && IsOpenableFile(folder + "/" + name)) {
            return true;
        }
        if (colon == std::string_view::npos) {
            return false;
        }
        rest.remove_prefix(colon + 1);
    }
}

} // namespace CommonModule
