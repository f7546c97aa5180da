// Captures the diagnostic messages that the code under test sends, in order.
#pragma once

#include "common/dprint.h"

#include <string>
#include <string_view>
#include <vector>

namespace testing_support {

// While alive, every DPrint message is recorded here (and still sent to the real channel and to
// any capture it was nested in).
class DebugCapture {
public:
    DebugCapture();
    ~DebugCapture();
    DebugCapture(const DebugCapture&) = delete;
    DebugCapture& operator=(const DebugCapture&) = delete;

    const std::vector<std::string>& Messages() const;
    void Append(std::string_view message);

private:
    CommonModule::DebugListenerSlot previous_;
    std::vector<std::string> messages_;
};

} // namespace testing_support
