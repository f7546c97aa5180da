// The detail lines a check run's outcome is recorded with, and the rules that carry the health
// values from one run to the next.
#include "health/check_time.h"
#include "health/failure_alert.h"
#include "health/health_state.h"
#include "health/outcome_detail.h"
#include "mail/smtp_transport.h"

#include <gtest/gtest.h>

#include <string>

using namespace health;

TEST(OutcomeDetail, LinesFromTheTable) {
    namespace e = modSendEmail::smtp_errors;
    struct Case {
        CheckOutcome outcome;
        CheckResult result;
        const char* detail;
    } cases[] = {
        {Unchanged("203.0.113.7"), CheckResult::Unchanged, "address 203.0.113.7, unchanged"},
        {Notified("203.0.113.8"), CheckResult::Notified, "notice for 203.0.113.8 accepted"},
        {NotifyFailed({e::kLogonFailed, "The server rejected the logon attempt. The server "
                                        "response was: 535 5.7.8 Authentication failed"}),
         CheckResult::NotifyFailed,
         "the mail server refused the logon: 535 5.7.8 Authentication failed"},
        {NotifyFailed({e::kConnectFailed, "Cannot connect to mail.test:25"}),
         CheckResult::NotifyFailed, "cannot reach the mail server: Cannot connect to mail.test:25"},
        {NotifyFailed({}), CheckResult::NotifyFailed,
         "the mail settings are not complete (server, port, sender, recipient)"},
        // Only the host of a page: its path or query may carry a secret.
        {LookupFailed({{"http://a.test:8080/ip?key=s3cret", "cannot connect"},
                       {"https://b.test/x", "HTTP status 500"}}),
         CheckResult::LookupFailed,
         "no check page gave an address: a.test: cannot connect; b.test: HTTP status 500"},
        {LookupFailed({}), CheckResult::LookupFailed,
         "no check page gave an address: the answer was \"Unknown\""},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(c.outcome.result, c.result) << c.detail;
        EXPECT_EQ(c.outcome.detail, c.detail);
    }
}

TEST(OutcomeDetail, ServerTextIsOnePrintableLineOfAtMost200) {
    const std::string hostile = "535 bad\r\n250-INJECTED\x1b[31m\x7f\xc3\xa9 end";
    const CheckOutcome o = NotifyFailed({modSendEmail::smtp_errors::kSendFailed, hostile});
    EXPECT_EQ(o.detail, "the mail server refused the notice: 535 bad 250-INJECTED?[31m??? end");

    const std::string line = SanitiseDetail(std::string(500, 'x'));
    EXPECT_EQ(line.size(), kMaxDetailLength);
    EXPECT_EQ(line.substr(line.size() - 3), "...");
    EXPECT_EQ(SanitiseDetail("  \r\n "), "");
}

TEST(HealthState, CountsFailingRunsAndSendsOneAlertPerStretch) {
    const CheckOutcome good = Unchanged("203.0.113.7");
    const CheckOutcome lookup = LookupFailed({});
    const CheckOutcome mail = NotifyFailed({});
    StoredHealth stored;
    int alerts = 0;
    // AlertAfterFailures=2: fail, fail (alert), fail; good; mail fails, lookup fails (alert).
    struct Step {
        const CheckOutcome* outcome;
        const char* now;
        const char* failedChecks;
        bool alert;
    } steps[] = {
        {&lookup, "2026-12-01T10:00:00Z", "1", false}, {&lookup, "2026-12-02T10:00:00Z", "2", true},
        {&lookup, "2026-12-03T10:00:00Z", "3", false}, {&good, "2026-12-04T10:00:00Z", "0", false},
        {&mail, "2026-12-05T10:00:00Z", "1", false},   {&lookup, "2026-12-06T10:00:00Z", "2", true},
    };
    for (const Step& s : steps) {
        const HealthUpdate u = NextHealth(stored, *s.outcome, s.now, 2);
        EXPECT_EQ(u.failedChecks, s.failedChecks) << s.now;
        EXPECT_EQ(u.sendAlert, s.alert) << s.now;
        EXPECT_EQ(u.lastCheckTime, s.now);
        stored = {u.failedChecks, u.sendAlert ? "1" : u.alertSent, u.failingSince};
        alerts += u.sendAlert ? 1 : 0;
        if (s.outcome == &good) {
            EXPECT_EQ(u.alertSent, "0");
            EXPECT_EQ(u.failingSince, "");
        }
    }
    EXPECT_EQ(alerts, 2);
    // The stretch began with the mail failure.
    EXPECT_EQ(stored.failingSince, "2026-12-05T10:00:00Z");
}

TEST(HealthState, NoticeTimeOnlyForAcceptedNotices) {
    const HealthUpdate sent = NextHealth({}, Notified("203.0.113.8"), "2026-12-11T10:00:00Z", 0);
    EXPECT_EQ(sent.lastCheckResult, "notified");
    EXPECT_EQ(sent.lastNotifyTime, "2026-12-11T10:00:00Z");
    EXPECT_FALSE(NextHealth({}, NotifyFailed({}), "2026-12-11T10:00:00Z", 0).lastNotifyTime);
    EXPECT_FALSE(NextHealth({"7", "0", ""}, LookupFailed({}), "x", 0).sendAlert);
}

TEST(HealthState, StoredAndConfiguredCountsParseStrictly) {
    EXPECT_EQ(ParseFailedChecks("12"), 12u);
    for (const char* bad : {"", "-1", "1x", " 3", "99999999999999999999999"}) {
        EXPECT_EQ(ParseFailedChecks(bad), 0u) << bad;
    }
    EXPECT_EQ(ParseAlertAfter(" 3 "), 3u);
    for (const char* never : {"", "0", "two", "2.5", "-2"}) {
        EXPECT_EQ(ParseAlertAfter(never), 0u) << never;
    }
}

TEST(CheckTime, UtcTextRoundTripsAndOnlyItsShapeParses) {
    EXPECT_EQ(FormatUtc(0), "1970-01-01T00:00:00Z");
    const auto moment = ParseUtc("2026-12-11T10:00:07Z");
    ASSERT_TRUE(moment);
    EXPECT_EQ(FormatUtc(*moment), "2026-12-11T10:00:07Z");
    for (const char* bad :
         {"", "2026-12-11 10:00:07Z", "2026-13-11T10:00:07Z", "2026-02-30T10:00:07Z",
          "2026-12-11T24:00:00Z", "2026-12-11T10:00:07"}) {
        EXPECT_FALSE(ParseUtc(bad)) << bad;
    }
    EXPECT_EQ(StatusLine("", "anything"), "Last check: never");
    EXPECT_EQ(StatusLine("garbage", "anything"), "Last check: never");
    const std::string line = StatusLine("2026-12-11T10:00:07Z", "address 203.0.113.7, unchanged");
    // "Last check: yyyy-mm-dd hh:mm - detail", the time in the machine's zone.
    ASSERT_EQ(line.size(), std::string("Last check: 2026-12-11 10:00 - ").size() +
                               std::string("address 203.0.113.7, unchanged").size());
    EXPECT_EQ(line.substr(0, 12), "Last check: ");
    EXPECT_EQ(line.substr(28), " - address 203.0.113.7, unchanged");
}

TEST(FailureAlert, GoesToTheNoticesRecipientsUnderItsOwnSubject) {
    modSendEmail::EmailSettingsRecord s;
    s.ToEmail = "owner@example.test";
    s.FromEmail = "watch@example.test";
    s.Subject = "Office IP";
    const auto m = ComposeFailureAlert(s, "2026-12-10T10:00:00Z", "no check page gave an address");
    EXPECT_EQ(m.To, "owner@example.test");
    EXPECT_EQ(m.From, "watch@example.test");
    EXPECT_EQ(m.Subject, "Office IP - IP Check Failing");
    EXPECT_NE(m.TextBody.find("since 2026-12-10T10:00:00Z"), std::string::npos);
    EXPECT_NE(m.TextBody.find("no check page gave an address"), std::string::npos);
}
