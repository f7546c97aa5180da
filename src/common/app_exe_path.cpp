#include "common/app_exe_path.h"

#include "common/program_file.h"
#include "settings/app_settings.h"

namespace CommonModule {

std::string AppExePath() {
    return AppPath() + ProgramBaseName() + std::string(platform::ExecutableSuffix());
}

} // namespace CommonModule
