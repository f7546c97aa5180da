#include "support/debug_capture.h"

#include "common/dprint.h"

namespace testing_support {

namespace {
CommonModule::DebugListenerSlot gPrevious;
void Record(void* context, std::string_view message) {
    static_cast<std::vector<std::string>*>(context)->emplace_back(message);
}
} // namespace

DebugCapture::DebugCapture() {
    gPrevious = CommonModule::SetDebugListener({&Record, &messages_});
}

DebugCapture::~DebugCapture() {
    CommonModule::SetDebugListener(gPrevious);
}

const std::vector<std::string>& DebugCapture::Messages() const {
    return messages_;
}

} // namespace testing_support
