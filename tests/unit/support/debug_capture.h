// Captures the diagnostic messages that the code under test sends, in order.
#pragma once

#include <string>
#include <vector>

namespace testing_support {

// While alive, every DPrint message is recorded here (and still sent to the real channel).
class DebugCapture {
public:
    DebugCapture();
    ~DebugCapture();
    DebugCapture(const DebugCapture&) = delete;
    DebugCapture& operator=(const DebugCapture&) = delete;

    const std::vector<std::string>& Messages() const;

private:
    std::vector<std::string> messages_;
};

} // namespace testing_support
