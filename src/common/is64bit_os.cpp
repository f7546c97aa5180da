#include "common/file_checks.h"

#include <cstdlib>
#include <cstring>

namespace CommonModule {

bool Is64bitOS(std::string_view) {
    const char* v = std::getenv("ProgramFiles(x86)");
    return v != nullptr && std::strlen(v) > 1;
}

} // namespace CommonModule
