#include "support/recorder.h"

#include <fstream>

namespace testing_support {

std::string InstallRecorder(const std::filesystem::path& folder, const std::string& baseName) {
    const std::filesystem::path target = folder / baseName;
    {
        std::ofstream out(target, std::ios::binary | std::ios::trunc);
        out << "#!/bin/sh\nprintf '%s\\n' \"$*\" >> \"$0.log\"\n";
    }
    std::filesystem::permissions(target, std::filesystem::perms::owner_all |
                                             std::filesystem::perms::group_read |
                                             std::filesystem::perms::group_exec);
    return target.string();
}

} // namespace testing_support
