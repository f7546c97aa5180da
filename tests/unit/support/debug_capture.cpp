#include "support/debug_capture.h"

namespace testing_support {

namespace {
void Record(void* context, std::string_view message) {
    auto* self = static_cast<DebugCapture*>(context);
    self->Append(message);
}
} // namespace

// Each capture remembers the listener it replaced, so nested captures unwind in order and the
// outer one keeps hearing messages after the inner one ends.
DebugCapture::DebugCapture() : previous_(CommonModule::SetDebugListener({&Record, this})) {}

DebugCapture::~DebugCapture() { CommonModule::SetDebugListener(previous_); }

void DebugCapture::Append(std::string_view message) {
    messages_.emplace_back(message);
    if (previous_.listener != nullptr) {
        previous_.listener(previous_.context, message);
    }
}

const std::vector<std::string>& DebugCapture::Messages() const { return messages_; }

} // namespace testing_support
