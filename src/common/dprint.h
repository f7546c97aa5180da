// DPrint: the program's one diagnostic output routine.
//
// A message is, for each argument in order, a tab followed by the argument as text: texts as they
// are, numbers in decimal, Booleans as "True"/"False". It goes to the system debugger channel
// (see debug_output.h). Every caller passes one value, so one call is one message.
#pragma once

#include <concepts>
#include <string>
#include <string_view>
#include <type_traits>

namespace CommonModule {

namespace detail {
inline void AppendText(std::string& m, std::string_view s) {
    m += s;
}
inline void AppendText(std::string& m, const char* s) {
    m += s;
}
inline void AppendText(std::string& m, bool b) {
    m += b ? "True" : "False";
}
template <std::integral T>
requires(!std::same_as<T, bool> && !std::same_as<T, char>) void AppendText(std::string& m, T n) {
    m += std::to_string(n);
}
} // namespace detail

// Builds the message text of one DPrint call without sending it.
template <typename... Args>
std::string FormatDebugMessage(const Args&... args) {
    std::string message;
    ((message += '\t', detail::AppendText(message, args)), ...);
    return message;
}

// Hands one finished message to the platform's debugger channel, and to the listener if any.
void SendDebugMessage(std::string_view message);

// Receives a copy of every message while installed; the tests' way to read the log. Returns the
// listener it replaces. Not for the program itself: its messages go to the debugger channel only.
using DebugListener = void (*)(void* context, std::string_view message);
struct DebugListenerSlot {
    DebugListener listener = nullptr;
    void* context = nullptr;
};
DebugListenerSlot SetDebugListener(DebugListenerSlot slot);

template <typename... Args>
void DPrint(const Args&... args) {
    SendDebugMessage(FormatDebugMessage(args...));
}

} // namespace CommonModule
