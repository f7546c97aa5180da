#include "app/run_modes.h"

#include <string>

int main(int argc, char** argv) {
    const std::string lowered = platform::LoweredArgumentText(argc, argv);
    const std::string arguments = platform::ArgumentText(argc, argv);
    return modGetExternalIP::Main(lowered, arguments);
}
