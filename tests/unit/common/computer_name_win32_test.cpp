// Windows: the machine's name is the COMPUTERNAME variable, empty when it is not set.
#include "common/os_info.h"

#include "support/environment.h"

#include <gtest/gtest.h>

#include <optional>
#include <string>

TEST(ComputerName, IsTheComputerNameVariable) {
    const std::optional<std::string> values[] = {"DESK-42", std::nullopt};
    for (const auto& value : values) {
        testing_support::ScopedEnvironment env("computername", value);
        EXPECT_EQ(platform::ComputerName(), value.value_or(""));
    }
}
