// The fuzz targets' debugger channel: messages reach the installed listener only, so a run of
// millions of inputs does not flood the system log.
#include "common/debug_output.h"

namespace platform {

void WriteDebugMessage(std::string_view) {}

} // namespace platform
