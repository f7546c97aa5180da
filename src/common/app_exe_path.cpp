#include "common/app_exe_path.h"

#include "common/program_file.h"

namespace CommonModule {

namespace {

std::string::size_type LastSeparator(const std::string& path) {
    // Windows accepts both separators; POSIX only the slash.
    return platform::PathSeparator() == '\\' ? path.find_last_of("\\/") : path.rfind('/');
}

} // namespace

std::string AppPath() {
    const std::string program = platform::ProgramFilePath();
    const auto sep = LastSeparator(program);
    std::string folder = sep == std::string::npos ? std::string() : program.substr(0, sep + 1);
    if (folder.empty() || folder.back() != platform::PathSeparator()) {
        folder += platform::PathSeparator();
    }
    return folder;
}

std::string ProgramBaseName() {
    const std::string program = platform::ProgramFilePath();
    const auto sep = LastSeparator(program);
    std::string name = sep == std::string::npos ? program : program.substr(sep + 1);
    const auto dot = name.rfind('.');
    if (dot != std::string::npos && dot > 0) {
        name.resize(dot);
    }
    return name;
}

std::string AppExePath() {
    return AppPath() + ProgramBaseName() + std::string(platform::ExecutableSuffix());
}

} // namespace CommonModule
