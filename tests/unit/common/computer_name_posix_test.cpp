// POSIX: the machine's name is the host name; the Windows COMPUTERNAME variable means nothing.
#include "common/os_info.h"

#include "support/environment.h"

#include <gtest/gtest.h>

#include <sys/utsname.h>

TEST(ComputerName, IsTheHostNameWhateverTheEnvironmentSays) {
    struct utsname u {};
    ASSERT_EQ(::uname(&u), 0);
    testing_support::ScopedEnvironment env("computername", "DESK-42");
    EXPECT_EQ(platform::ComputerName(), u.nodename);
}
