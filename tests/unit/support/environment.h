// Sets an environment variable of the test process for one scope, then puts the old state back.
#pragma once

#include <optional>
#include <string>

namespace testing_support {

class ScopedEnvironment {
public:
    // nullopt removes the variable for the scope.
    ScopedEnvironment(std::string name, const std::optional<std::string>& value);
    ~ScopedEnvironment();
    ScopedEnvironment(const ScopedEnvironment&) = delete;
    ScopedEnvironment& operator=(const ScopedEnvironment&) = delete;

private:
    std::string name_;
    std::optional<std::string> old_;
};

// The platform's own setter; nullopt removes the variable.
void SetEnvironment(const std::string& name, const std::optional<std::string>& value);

} // namespace testing_support
