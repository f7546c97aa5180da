#include "support/recorder.h"

#include "settings/app_settings.h"

namespace testing_support {

std::string InstallRecorder(const std::filesystem::path& folder, const std::string& baseName) {
    const std::filesystem::path built =
        std::filesystem::path(CommonModule::AppPath()) / "helpers" / "recorder.exe";
    const std::filesystem::path target = folder / (baseName + ".exe");
    std::filesystem::copy_file(built, target, std::filesystem::copy_options::overwrite_existing);
    return target.string();
}

} // namespace testing_support
