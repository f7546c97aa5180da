// POSIX argument text: argv[1..] joined with single blanks; lowered, ASCII letters lower-cased.
#include "app/run_modes.h"

#include "common/text.h"

#include <string>

namespace platform {

std::string ArgumentText(int argc, char** argv) {
    std::string joined;
    for (int i = 1; i < argc; ++i) {
        if (i > 1) {
            joined += ' ';
        }
        joined += argv[i];
    }
    return joined;
}

std::string LoweredArgumentText(int argc, char** argv) {
    return text::ToLowerAscii(ArgumentText(argc, argv));
}

} // namespace platform
