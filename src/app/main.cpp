#include "app/run_modes.h"

#include <string>

int main(int argc, char** argv) {
    const std::string arguments = platform::LoweredArgumentText(argc, argv);
    return modGetExternalIP::Main(arguments);
}
