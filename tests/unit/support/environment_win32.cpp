#include "support/environment.h"

#include <stdlib.h>

namespace testing_support {

// The C runtime's copy of the environment is what getenv reads; an empty value removes it.
void SetEnvironment(const std::string& name, const std::optional<std::string>& value) {
    ::_putenv_s(name.c_str(), value ? value->c_str() : "");
}

} // namespace testing_support
