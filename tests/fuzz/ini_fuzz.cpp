// Any file content: looking up never fails, and after an update the key reads back as the value
// written, while every other byte of the content is kept in front of or after the change.
#include "settings/ini_text.h"

#include <cstdlib>
#include <string>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string all(reinterpret_cast<const char*>(data), size);
    // The first line names the section, key and value to use; the rest is the file.
    const auto end = all.find('\n');
    const std::string head = all.substr(0, end == std::string::npos ? 0 : end);
    const std::string content = end == std::string::npos ? all : all.substr(end + 1);
    auto field = [&](std::size_t i) {
        std::size_t from = 0;
        for (; i > 0 && from != std::string::npos; --i) {
            from = head.find('|', from);
            from = from == std::string::npos ? from : from + 1;
        }
        if (from == std::string::npos) {
            return std::string();
        }
        return head.substr(from, head.find('|', from) - from);
    };
    const std::string section = field(0), key = field(1), value = field(2);

    (void)ini::Lookup(content, section, key);
    // Names the writer can represent: no line breaks, brackets or "=", not blank-edged.
    auto plain = [](const std::string& s) {
        if (s.empty() || s.find_first_of("\r\n[]=;\"'") != std::string::npos) {
            return false;
        }
        const unsigned char first = s.front(), last = s.back();
        return first > ' ' && last > ' ';
    };
    auto plainValue = [](const std::string& s) {
        return s.find_first_of("\r\n\"'") == std::string::npos &&
               (s.empty() || (static_cast<unsigned char>(s.front()) > ' ' &&
                              static_cast<unsigned char>(s.back()) > ' '));
    };
    if (!plain(section) || !plain(key) || !plainValue(value)) {
        return 0;
    }
    const std::string updated = ini::Update(content, section, key, value);
    const auto back = ini::Lookup(updated, section, key);
    if (!back || *back != value) {
        std::abort();
    }
    return 0;
}
