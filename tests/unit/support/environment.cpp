#include "support/environment.h"

#include <cstdlib>

namespace testing_support {

ScopedEnvironment::ScopedEnvironment(std::string name, const std::optional<std::string>& value)
    : name_(std::move(name)) {
    if (const char* old = std::getenv(name_.c_str())) {
        old_ = old;
    }
    SetEnvironment(name_, value);
}

ScopedEnvironment::~ScopedEnvironment() {
    SetEnvironment(name_, old_);
}

} // namespace testing_support
