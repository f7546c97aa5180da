#include "settings/ini_file.h"

namespace CommonModule {

std::string ReadINI(const std::string& file, const std::string& section, const std::string& key) {
    std::string value = platform::ReadIniValue(file, section, key);
    if (value.size() > kMaxIniValueLength) {
        value.resize(kMaxIniValueLength);
    }
    return value;
}

void WriteINI(const std::string& file, const std::string& section, const std::string& key,
              const std::string& value) {
    // A line break inside a value would start a line of its own: a new key or section.
    platform::WriteIniValue(file, section, key, value.substr(0, value.find_first_of("\r\n")));
}

} // namespace CommonModule
