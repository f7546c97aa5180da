// The connection-security rule: the StartTLS value, then UseSSL x StartTLS x port.
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

TEST(ConnectionSecurity, StartTlsIsOffOnlyForTheNumberZero) {
    const std::optional<bool> missing;
    struct Case {
        const char* value;
        std::optional<bool> startTls;
    } cases[] = {
        {"", missing},
        // Zero, however the number is written.
        {"0", false},
        {"00", false},
        {" 0 ", false},
        {"-0", false},
        {"+0", false},
        {"0.0", false},
        {".0", false},
        {"&H0", false},
        {"&o00", false},
        // Any other number, including one that merely rounds to zero.
        {"1", true},
        {"2", true},
        {"-1", true},
        {"0.4", true},
        {"1e-9", true},
        {"0e5", true},
        {"99999", true},
        {"&H10", true},
        // Words and broken numbers: the fail-safe side.
        {"yes", true},
        {"no", true},
        {"off", true},
        {"false", true},
        {"0x0", true},
        {"0 0", true},
        {"0,0", true},
        {"&H", true},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(StartTlsSetting(c.value), c.startTls) << "'" << c.value << "'";
    }
}
