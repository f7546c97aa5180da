// Windows settings file: the system's profile functions, ANSI entry points.
#include "settings/ini_file.h"

#include "common/windows_api.h"

namespace platform {

std::string ReadIniValue(const std::string& file, const std::string& section,
                         const std::string& key) {
    char buffer[CommonModule::kMaxIniValueLength + 1];
    const DWORD n = ::GetPrivateProfileStringA(section.c_str(), key.c_str(), "", buffer,
                                               sizeof buffer, file.c_str());
    return std::string(buffer, n);
}

void WriteIniValue(const std::string& file, const std::string& section, const std::string& key,
                   const std::string& value) {
    ::WritePrivateProfileStringA(section.c_str(), key.c_str(), value.c_str(), file.c_str());
}

} // namespace platform
