#include "monitor/stored_values.h"

#include "registry/registry.h"

#include <variant>

namespace modGetExternalIP {

namespace {

constexpr const char* kRoot = "HKLM";
constexpr const char* kKey = "Software\\Quillfen\\Addrwatch";

} // namespace

std::string ReadStored(const char* name) {
    modRegistry::RegValue value = std::string();
    if (modRegistry::fReadValue(kRoot, kKey, name, "S", std::string(), value) != 0) {
        return {};
    }
    const std::string* text = std::get_if<std::string>(&value);
    return text != nullptr ? *text : std::string();
}

void Store(const char* name, const std::string& sText) {
    modRegistry::fWriteValue(kRoot, kKey, name, "S", sText);
}

void DeleteStored(const char* name) {
    modRegistry::fDeleteValue(kRoot, kKey, name);
}

} // namespace modGetExternalIP
