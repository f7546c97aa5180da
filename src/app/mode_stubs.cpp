// Run modes whose subsystems are not part of this build yet: each does nothing beyond start-up.
#include "app/mode_handlers.h"

namespace modGetExternalIP {


} // namespace modGetExternalIP
