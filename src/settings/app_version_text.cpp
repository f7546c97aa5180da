#include "product_version.h"
#include "settings/app_settings.h"

#include <string>

namespace CommonModule {

std::string AppVersionText(const std::string& stage, const std::string& suffix) {
    std::string t = std::string(product::kTitle) + "   v" + std::to_string(product::kMajor) + "." +
                    std::to_string(product::kMinor);
    if (product::kRevision > 0) {
        t += "." + std::to_string(product::kRevision);
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

} // namespace CommonModule
