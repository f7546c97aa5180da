#include "support/recorder.h"

#include <fstream>

namespace testing_support {

std::string RecorderLog(const std::string& program) {
    std::string base = program;
    if (base.size() > 4 && base.compare(base.size() - 4, 4, ".exe") == 0) {
        base.resize(base.size() - 4);
    }
    return base + ".log";
}

std::vector<std::string> RecordedLines(const std::string& program) {
    std::vector<std::string> lines;
    std::ifstream in(RecorderLog(program), std::ios::binary);
    std::string line;
    while (std::getline(in, line)) {
        lines.push_back(line);
    }
    return lines;
}

} // namespace testing_support
