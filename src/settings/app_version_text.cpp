#include "product_version.h"
#include "settings/app_settings.h"

#include <string>

namespace CommonModule {

std::string FormatVersionText(const std::string& title, int major, int minor, int revision,
                              const std::string& stage, const std::string& suffix) {
    std::string t = title + "   v" + std::to_string(major) + "." + std::to_string(minor);
    if (revision > 0) {
        t += "." + std::to_string(revision);
    }
    if (stage == "A") {
        t += " ALPHA";
    } else if (stage == "B") {
        t += " BETA";
    } else {
        t += " " + stage;
    }
    if (!suffix.empty()) {
        t += "  - " + suffix;
    }
    return t;
}

std::string AppVersionText(const std::string& stage, const std::string& suffix) {
    return FormatVersionText(product::kTitle, product::kMajor, product::kMinor, product::kRevision,
                             stage, suffix);
}

} // namespace CommonModule
