#include "oauth/browser.h"

#include "common/text.h"

namespace oauth {

bool IsSafeBrowserAddress(std::string_view address) {
    const std::string lower = text::ToLowerAscii(address.substr(0, 8));
    if (lower.rfind("https://", 0) != 0 && lower.rfind("http://", 0) != 0) {
        return false;
    }
    for (const char ch : address) {
        const auto c = static_cast<unsigned char>(ch);
        if (c <= 0x20 || c >= 0x7f || c == '"' || c == '\'' || c == '`' || c == '\\' || c == '<' ||
            c == '>' || c == '^' || c == '|') {
            return false;
        }
    }
    return true;
}

} // namespace oauth
