// The connection-security rule: UseSSL x StartTLS x port.
#include "mail/connection_security.h"

#include <gtest/gtest.h>

using namespace modSendEmail;

TEST(ConnectionSecurity, UseSslTimesStartTlsTimesPort) {
    using S = ConnectionSecurity;
    const std::optional<bool> missing;
    struct Case {
        bool useSsl;
        std::optional<bool> startTls;
        const char* port;
        S expected;
    } cases[] = {
        // StartTLS on: STARTTLS whatever Use SSL and the port say.
        {false, true, "25", S::StartTls},
        {true, true, "465", S::StartTls},
        {false, true, "2525", S::StartTls},
        // StartTLS off: Use SSL alone, on any port.
        {true, false, "587", S::ImplicitTls},
        {true, false, "25", S::ImplicitTls},
        {false, false, "587", S::Plain},
        // No StartTLS: plain without Use SSL; with it STARTTLS on 25 and 587 only.
        {false, missing, "587", S::Plain},
        {false, missing, "465", S::Plain},
        {true, missing, "25", S::StartTls},
        {true, missing, "587", S::StartTls},
        {true, missing, " 587 ", S::StartTls},
        {true, missing, "465", S::ImplicitTls},
        {true, missing, "2525", S::ImplicitTls},
        {true, missing, "5870", S::ImplicitTls},
        {true, missing, "58", S::ImplicitTls},
        {true, missing, "smtp", S::ImplicitTls},
        {true, missing, "", S::ImplicitTls},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(ChooseConnectionSecurity(c.useSsl, c.startTls, c.port), c.expected)
            << c.useSsl << " " << (c.startTls ? int(*c.startTls) : -1) << " '" << c.port << "'";
    }
}
