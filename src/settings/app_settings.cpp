#include "settings/app_settings.h"

#include "common/dprint.h"
#include "common/program_file.h"

namespace CommonModule {

std::string sAppINI;

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

void InitAppSettings(bool& bSetAppINI, bool& /*bINIInAppPath*/) {
    if (bSetAppINI) {
        sAppINI = AppPath() + ProgramBaseName() + ".ini";
    }
    DPrint("");
    DPrint(platform::ShortDateText() + " - Starting " + AppVersionText("", ""));
    DPrint(std::string(40, '-'));
}

} // namespace CommonModule
