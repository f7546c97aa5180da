// POSIX argument text: argv[1..] joined with single blanks, ASCII letters lower-cased.
#include "app/run_modes.h"

#include "common/text.h"

#include <string>

namespace platform {

std::string LoweredArgumentText(int argc, char** argv) {
    std::string joined;
    for (int i = 1; i < argc; ++i) {
        if (i > 1) {
            joined += ' ';
        }
        joined += argv[i];
    }
    return text::ToLowerAscii(joined);
}

} // namespace platform
