// The error a routine traps or hands to its caller: a number and a description, as the
// diagnostic log shows them ("<number> <description>"). Routines return these; none throws.
#pragma once

#include <optional>
#include <string>
#include <utility>

struct VbError {
    long number = 0;
    std::string description;
};

namespace vb_errors {
inline VbError InvalidArgument() {
    return {5, "Invalid procedure call or argument"};
}
inline VbError Overflow() {
    return {6, "Overflow"};
}
inline VbError TypeMismatch() {
    return {13, "Type mismatch"};
}
} // namespace vb_errors

// A value, or the error that kept the routine from producing one.
template <typename T>
class Outcome {
public:
    Outcome(T value) : value_(std::move(value)) {}
    Outcome(VbError error) : error_(std::move(error)) {}

    bool ok() const { return value_.has_value(); }
    explicit operator bool() const { return ok(); }
    const T& value() const& { return *value_; }
    T& value() & { return *value_; }
    const VbError& error() const { return *error_; }

private:
    std::optional<T> value_;
    std::optional<VbError> error_;
};
