#include "common/dprint.h"

#include "common/debug_output.h"

#include <utility>

namespace CommonModule {

namespace {
// The module's one piece of state, as its messages had: who else hears them.
DebugListenerSlot gListener;
} // namespace

DebugListenerSlot SetDebugListener(DebugListenerSlot slot) {
    return std::exchange(gListener, slot);
}

void SendDebugMessage(std::string_view message) {
    if (gListener.listener != nullptr) {
        gListener.listener(gListener.context, message);
    }
    platform::WriteDebugMessage(message);
}

} // namespace CommonModule

namespace CommonModule {

std::string EscapeDebugLine(std::string_view message) {
    std::string line;
    line.reserve(message.size() + 1);
    for (std::size_t i = 0; i < message.size(); ++i) {
        const char c = message[i];
        if (c == '\r') {
            line += "\\r";
        } else if (c == '\n') {
            line += "\\n";
        } else if (c == '\\' && i + 1 < message.size() &&
                   (message[i + 1] == 'r' || message[i + 1] == 'n' || message[i + 1] == '\\')) {
            line += "\\\\";
        } else {
            line += c;
        }
    }
    return line;
}

} // namespace CommonModule
