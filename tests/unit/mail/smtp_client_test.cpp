// The SMTP conversation, driven by a scripted transport: replies, refusals, AUTH choice,
// envelope, DATA framing. Real servers on loopback are the end-to-end tests' part.
#include "mail/smtp_client.h"
#include "support/scripted_smtp_transport.h"

#include <gtest/gtest.h>

#include <chrono>
#include <deque>
#include <string>
#include <vector>

using namespace modSendEmail;
using testing_support::ScriptedTransport;

namespace {

NotificationMessage Message() {
    NotificationMessage m;
    m.To = "Ann <a@x.test>, b@y.test";
    m.From = "w@x.test";
    m.Subject = "S - IP Change Notification";
    m.TextBody = "a\n.\nMAIL FROM:<x@y>\n";
    return m;
}

SmtpConfig Config(bool auth, ConnectionSecurity security = ConnectionSecurity::Plain) {
    SmtpConfig c;
    c.security = security;
    c.server = "mail.test";
    c.port = "25";
    c.authenticate = auth;
    c.userName = "user";
    c.password = "Secret!pw";
    return c;
}

// The client's lines, with the DATA payload cut out.
std::vector<std::string> Commands(const std::string& sent) {
    std::vector<std::string> out;
    std::size_t start = 0;
    bool inData = false;
    for (std::size_t at; (at = sent.find("\r\n", start)) != std::string::npos; start = at + 2) {
        const std::string line = sent.substr(start, at - start);
        if (inData) {
            inData = line != ".";
            if (!inData) {
                out.push_back("<data>");
            }
            continue;
        }
        out.push_back(line);
        inData = line == "DATA";
    }
    return out;
}

const char* kGreeting = "220 mail.test ESMTP\r\n";
const char* kOk = "250 OK\r\n";
// The AUTH PLAIN argument of Config(true), and the password's own base64.
const char* kPlainArgument = "AHVzZXIAU2VjcmV0IXB3";
const char* kPasswordBase64 = "U2VjcmV0IXB3";

} // namespace

TEST(SmtpReplyParser, SingleMultiLineSplitAndMalformed) {
    SmtpReplyParser p;
    EXPECT_EQ(p.Feed("250-mail.test\r\n250-AUTH PLAIN"), SmtpReplyParser::State::NeedMore);
    EXPECT_EQ(p.Feed(" LOGIN\r\n250 SIZE\r\n354 next"), SmtpReplyParser::State::Complete);
    SmtpReply r = p.Take();
    EXPECT_EQ(r.code, 250);
    EXPECT_EQ(r.lines, (std::vector<std::string>{"mail.test", "AUTH PLAIN LOGIN", "SIZE"}));
    EXPECT_EQ(p.Feed("\n"), SmtpReplyParser::State::Complete); // bare LF accepted
    EXPECT_EQ(p.Take().code, 354);
    EXPECT_EQ(p.Feed("250\r\n"), SmtpReplyParser::State::Complete);
    EXPECT_EQ(p.Take().lines, std::vector<std::string>{""});

    for (const char* bad : {"hello\r\n", "25 x\r\n", "250x\r\n", "250-a\r\n251 b\r\n"}) {
        SmtpReplyParser q;
        EXPECT_EQ(q.Feed(bad), SmtpReplyParser::State::Malformed) << bad;
    }
}

// A reply of code 250 that takes exactly bytes on the wire, in lines of at most 1000.
std::string ReplyOfSize(std::size_t bytes) {
    std::string r;
    while (bytes - r.size() > 1000) {
        r += "250-" + std::string(994, 'x') + "\r\n";
    }
    return r + "250 " + std::string(bytes - r.size() - 6, 'y') + "\r\n";
}

TEST(SmtpReplyParser, AReplyIsBoundAsAWhole) {
    using State = SmtpReplyParser::State;
    const std::string atBound = ReplyOfSize(kMaxReplyBytes);
    struct Case {
        const char* name;
        std::string bytes;
        State state;
    } cases[] = {
        {"at the bound", atBound, State::Complete},
        {"a byte past it", ReplyOfSize(kMaxReplyBytes + 1), State::TooLong},
        {"the next reply does not count", atBound + "250 next\r\n", State::Complete},
        {"a line without end, at the bound", "250 " + std::string(kMaxReplyBytes - 4, 'z'),
         State::NeedMore},
        {"a line without end, past it", "250 " + std::string(kMaxReplyBytes - 3, 'z'),
         State::TooLong},
        {"past it in its last line", atBound.substr(0, atBound.size() - 2) + "z\r\n",
         State::TooLong},
    };
    for (const Case& c : cases) {
        for (std::size_t piece : {std::size_t{4096}, c.bytes.size()}) {
            SmtpReplyParser p;
            State state = State::NeedMore;
            for (std::size_t at = 0; at < c.bytes.size() && state == State::NeedMore; at += piece) {
                state = p.Feed(std::string_view(c.bytes).substr(at, piece));
            }
            EXPECT_EQ(state, c.state) << c.name << " in pieces of " << piece;
            EXPECT_LE(p.Pending().size(), kMaxReplyBytes + piece) << c.name;
        }
    }
}

// SMTP replies start with 2 to 5; a server sending anything else is not speaking SMTP, and a
// "125" must not reach the client as a reply it could weigh.
TEST(SmtpReplyParser, FirstDigitOutsideTwoToFiveIsNotSmtp) {
    for (const char* bad : {"125 2.0.0 Ok: queued\r\n", "000 x\r\n", "600 x\r\n", "999\r\n"}) {
        SmtpReplyParser p;
        EXPECT_EQ(p.Feed(bad), SmtpReplyParser::State::Malformed) << bad;
    }
    for (const char* good : {"200 x\r\n", "599 x\r\n"}) {
        SmtpReplyParser p;
        EXPECT_EQ(p.Feed(good), SmtpReplyParser::State::Complete) << good;
    }
}

TEST(SendSmtpMessage, PlainDeliveryCommandsAndDataFraming) {
    ScriptedTransport t({kGreeting, "250-mail.test\r\n250 AUTH PLAIN\r\n", kOk, kOk, kOk,
                         "354 go\r\n", kOk, "221 bye\r\n"});
    // The acceptance is reported as soon as the data's 250 arrives, before the goodbye.
    std::vector<std::string> sentWhenAccepted;
    ASSERT_FALSE(SendSmtpMessage(Config(false), Message(), t, [&] {
                     sentWhenAccepted = Commands(t.sent);
                 }).has_value());
    ASSERT_FALSE(sentWhenAccepted.empty());
    EXPECT_EQ(sentWhenAccepted.back(), "<data>");
    EXPECT_EQ(t.connected, "mail.test:25");
    const std::vector<std::string> expected = {"EHLO clientRSET",
                                               "MAIL FROM:<w@x.test>",
                                               "RCPT TO:<a@x.test>",
                                               "RCPT TO:<b@y.test>",
                                               "DATA",
                                               "<data>",
                                               "QUIT"};
    EXPECT_EQ(Commands(t.sent), expected);
    // The body's lone dot is stuffed and the fake command stays inside the message.
    EXPECT_NE(t.sent.find("\r\n\r\na\r\n..\r\nMAIL FROM:<x@y>\r\n.\r\nQUIT\r\n"),
              std::string::npos);
    EXPECT_EQ(t.sent.find("AUTH"), std::string::npos);
}

TEST(SendSmtpMessage, AuthenticationFollowsTheOffer) {
    struct Case {
        const char* ehlo;
        std::vector<std::string> serverAuth;
        std::vector<std::string> expectedAuth;
    } cases[] = {
        {"250-m\r\n250 AUTH LOGIN PLAIN\r\n", {"235 ok\r\n"}, {"AUTH PLAIN AHVzZXIAU2VjcmV0IXB3"}},
        {"250-m\r\n250-AUTH=LOGIN\r\n250 8BITMIME\r\n",
         {"334 VXNlcm5hbWU6\r\n", "334 UGFzc3dvcmQ6\r\n", "235 ok\r\n"},
         {"AUTH LOGIN", "dXNlcg==", "U2VjcmV0IXB3"}},
    };
    for (const auto& c : cases) {
        std::deque<std::string> script{kGreeting, c.ehlo};
        script.insert(script.end(), c.serverAuth.begin(), c.serverAuth.end());
        script.insert(script.end(), {kOk, kOk, kOk, "354 go\r\n", kOk, "221 bye\r\n"});
        ScriptedTransport t(script);
        ASSERT_FALSE(SendSmtpMessage(Config(true), Message(), t).has_value()) << c.ehlo;
        const std::vector<std::string> commands = Commands(t.sent);
        const std::vector<std::string> auth(commands.begin() + 1,
                                            commands.begin() + 1 + long(c.expectedAuth.size()));
        EXPECT_EQ(auth, c.expectedAuth);
        EXPECT_EQ(commands[1 + c.expectedAuth.size()], "MAIL FROM:<w@x.test>");
    }
}

TEST(SendSmtpMessage, FailuresCarryANumberAndTheServerText) {
    struct Case {
        const char* name;
        bool auth;
        std::deque<std::string> script;
        long number;
        const char* description;
    } cases[] = {
        {"closed after greeting",
         false,
         {kGreeting, ""},
         smtp_errors::kConnectionLost,
         "The transport lost its connection to the server."},
        {"silent",
         false,
         {"TIMEOUT"},
         smtp_errors::kTimedOut,
         "The server did not answer in time."},
        {"busy",
         false,
         {"421 busy\r\n"},
         smtp_errors::kConnectFailed,
         "The server refused the session. The server response was: 421 busy"},
        {"not smtp",
         false,
         {"HTTP/1.1 400\r\n"},
         smtp_errors::kSendFailed,
         "The server's reply is not SMTP: HTTP/1.1 400"},
        {"rcpt refused",
         false,
         {kGreeting, kOk, kOk, "550-no such\r\n550 user\x07\r\n"},
         smtp_errors::kRecipientsRejected,
         "The server rejected one or more recipient addresses. The server response was: 550 "
         "no such user?"},
        {"sender refused",
         false,
         {kGreeting, kOk, "451 4.3.0 try later\r\n"},
         smtp_errors::kSenderRejected,
         "The server rejected the sender address. The server response was: 451 4.3.0 try later"},
        {"data refused",
         false,
         {kGreeting, kOk, kOk, kOk, kOk, "354 go\r\n", "554 5.7.1 spam\r\n"},
         smtp_errors::kSendFailed,
         "The server refused the message. The server response was: 554 5.7.1 spam"},
        {"wrong password",
         true,
         {kGreeting, "250 AUTH PLAIN\r\n", "535 5.7.8 Authentication credentials invalid\r\n"},
         smtp_errors::kLogonFailed,
         "The server rejected the logon attempt. The server response was: 535 5.7.8 "
         "Authentication credentials invalid"},
        {"no auth offered",
         true,
         {kGreeting, kOk},
         smtp_errors::kLogonFailed,
         "The server offers no supported authentication method (PLAIN, LOGIN)."},
        {"helo refused",
         false,
         {kGreeting, "502 no\r\n", "502 no either\r\n"},
         smtp_errors::kSendFailed,
         "The server refused the greeting. The server response was: 502 no either"},
    };
    for (auto& c : cases) {
        ScriptedTransport t(c.script);
        const Failure f = SendSmtpMessage(Config(c.auth), Message(), t);
        ASSERT_TRUE(f.has_value()) << c.name;
        EXPECT_EQ(f->number, c.number) << c.name;
        EXPECT_EQ(f->description, c.description) << c.name;
        EXPECT_EQ(f->description.find("Secret"), std::string::npos);
    }
}

// A server streaming an endless EHLO reply: the client stops reading at the bound and sends
// nothing more.
TEST(SendSmtpMessage, AReplyPastItsBoundEndsTheSendUnread) {
    std::deque<std::string> script{kGreeting};
    const std::string line = "250-" + std::string(60 * 1024, 'x') + "\r\n";
    for (int i = 0; i < 100; ++i) {
        script.push_back(line);
    }
    ScriptedTransport t(script);
    const Failure f = SendSmtpMessage(Config(true), Message(), t);
    ASSERT_TRUE(f.has_value());
    EXPECT_EQ(f->number, smtp_errors::kSendFailed);
    EXPECT_EQ(f->description, "The server's reply is longer than 64 KiB, the most it may be.");
    EXPECT_EQ(Commands(t.sent), std::vector<std::string>{"EHLO clientRSET"});
    EXPECT_LE(t.served, std::string(kGreeting).size() + kMaxReplyBytes + 4096);
}

// Every reply comes well within its own wait; the session as a whole still ends at its limit,
// and no deadline the transport is given lies past it.
TEST(SendSmtpMessage, TheWholeSessionEndsWithinItsLimit) {
    using std::chrono::seconds;
    struct Case {
        const char* name;
        seconds step; // how long each reply takes
        std::chrono::milliseconds limit;
        const char* description; // of the failure; nullptr: delivered
        seconds ended;           // when, after the start
    } cases[] = {
        // Greeting, EHLO, MAIL, two RCPT at 59 s each: the DATA reply would come at 354 s.
        {"slow server", seconds(59), kSessionLimit,
         "The server did not finish the session within 300 seconds.", seconds(300)},
        // Delivered; the courtesy QUIT gets its 5 s only.
        {"a longer limit", seconds(59), std::chrono::hours(1), nullptr, seconds(7 * 59 + 5)},
        {"a wait past its own bound", seconds(61), kSessionLimit,
         "The server did not answer in time.", seconds(60)},
    };
    for (const Case& c : cases) {
        ScriptedTransport t({kGreeting, kOk, kOk, kOk, kOk, "354 go\r\n", kOk, "221 bye\r\n"});
        t.step = c.step;
        const Deadline start = t.now;
        SmtpConfig config = Config(false);
        config.sessionLimit = c.limit;
        config.clock = [&t] { return t.now; };
        bool accepted = false;
        const Failure f = SendSmtpMessage(config, Message(), t, [&] { accepted = true; });
        if (c.description == nullptr) {
            EXPECT_FALSE(f.has_value()) << c.name;
            EXPECT_TRUE(accepted) << c.name;
        } else {
            ASSERT_TRUE(f.has_value()) << c.name;
            EXPECT_EQ(f->number, smtp_errors::kTimedOut) << c.name;
            EXPECT_EQ(f->description, c.description) << c.name;
            EXPECT_FALSE(accepted) << c.name;
        }
        EXPECT_EQ(t.now - start, c.ended) << c.name;
        for (const Deadline d : t.deadlines) {
            EXPECT_LE(d - start, c.limit) << c.name;
        }
    }
}

TEST(SendSmtpMessage, HeloFallbackAndUnsafeEnvelopeAddresses) {
    ScriptedTransport helo({kGreeting, "500 what\r\n", kOk, kOk, kOk, kOk, "354 go\r\n", kOk, ""});
    ASSERT_FALSE(SendSmtpMessage(Config(false), Message(), helo).has_value());
    EXPECT_EQ(Commands(helo.sent)[1], "HELO clientRSET");

    NotificationMessage m = Message();
    m.To = "a@x.test, b c@y.test";
    ScriptedTransport unsafe({kGreeting});
    const Failure f = SendSmtpMessage(Config(false), m, unsafe);
    ASSERT_TRUE(f.has_value());
    EXPECT_EQ(f->number, smtp_errors::kRecipientsRejected);
    EXPECT_TRUE(unsafe.connected.empty()) << "nothing is sent for an address that is not safe";
}

TEST(SendSmtpMessage, OnlyA2xxReplyCompletesMailRcptAndTheData) {
    struct Case {
        const char* name;
        std::deque<std::string> script;
        long number;
    } cases[] = {
        {"354 to MAIL", {kGreeting, kOk, "354 go ahead\r\n"}, smtp_errors::kSenderRejected},
        {"334 to MAIL", {kGreeting, kOk, "334 what\r\n"}, smtp_errors::kSenderRejected},
        {"354 to RCPT",
         {kGreeting, kOk, kOk, "354 go ahead\r\n"},
         smtp_errors::kRecipientsRejected},
        {"399 to the second RCPT",
         {kGreeting, kOk, kOk, kOk, "399 hm\r\n"},
         smtp_errors::kRecipientsRejected},
        {"354 after the data",
         {kGreeting, kOk, kOk, kOk, kOk, "354 go\r\n", "354 again\r\n"},
         smtp_errors::kSendFailed},
        {"300 after the data",
         {kGreeting, kOk, kOk, kOk, kOk, "354 go\r\n", "300 x\r\n"},
         smtp_errors::kSendFailed},
        {"250 to DATA", {kGreeting, kOk, kOk, kOk, kOk, kOk}, smtp_errors::kSendFailed},
    };
    for (auto& c : cases) {
        ScriptedTransport t(c.script);
        bool accepted = false;
        const Failure f = SendSmtpMessage(Config(false), Message(), t, [&] { accepted = true; });
        ASSERT_TRUE(f.has_value()) << c.name;
        EXPECT_FALSE(accepted) << c.name;
        EXPECT_EQ(f->number, c.number) << c.name;
        EXPECT_NE(Commands(t.sent).back(), "QUIT") << c.name;
    }
}

TEST(SendSmtpMessage, AnAuthReplyEchoingTheCredentialsLeavesNoTraceOfThem) {
    struct Case {
        const char* name;
        const char* ehlo;
        std::vector<std::string> replies;
        const char* description; // what remains of the server's text
    } cases[] = {
        {"PLAIN echoed whole",
         "250 AUTH PLAIN\r\n",
         {std::string("535 5.7.8 Bad credentials: AUTH PLAIN ") + kPlainArgument + "\r\n"},
         "535 5.7.8 Bad credentials: AUTH PLAIN [hidden]"},
        {"PLAIN echoed cut and quoted",
         "250 AUTH PLAIN\r\n",
         {"535-5.7.8 rejected\r\n535 5.7.8 '" + std::string(kPlainArgument).substr(3, 12) +
          "...'\r\n"},
         "535 5.7.8 rejected 5.7.8 [hidden]"},
        {"LOGIN password echoed",
         "250 AUTH LOGIN\r\n",
         {"334 VXNlcm5hbWU6\r\n", "334 UGFzc3dvcmQ6\r\n",
          std::string("535 ") + kPasswordBase64 + " is wrong\r\n"},
         "535 [hidden] is wrong"},
        {"password in clear",
         "250 AUTH PLAIN\r\n",
         {"535 no user 'user' with 'Secret!pw'\r\n"},
         "535 no user 'user' with '[hidden]'"},
    };
    for (const auto& c : cases) {
        std::deque<std::string> script{kGreeting, c.ehlo};
        script.insert(script.end(), c.replies.begin(), c.replies.end());
        ScriptedTransport t(script);
        const Failure f = SendSmtpMessage(Config(true), Message(), t);
        ASSERT_TRUE(f.has_value()) << c.name;
        EXPECT_EQ(f->number, smtp_errors::kLogonFailed) << c.name;
        EXPECT_EQ(f->description,
                  std::string("The server rejected the logon attempt. The server response was: ") +
                      c.description)
            << c.name;
    }
    // A reply that is not SMTP at all is logged as received: with the echo hidden too.
    ScriptedTransport t(
        {kGreeting, "250 AUTH PLAIN\r\n", std::string("what is ") + kPlainArgument + "?\r\n"});
    const Failure f = SendSmtpMessage(Config(true), Message(), t);
    ASSERT_TRUE(f.has_value());
    EXPECT_EQ(f->description, "The server's reply is not SMTP: what is [hidden]?");
}

namespace {

const char* kEhloWithStartTls = "250-mail.test\r\n250-STARTTLS\r\n250 AUTH LOGIN\r\n";
const char* kReady = "220 2.0.0 Ready to start TLS\r\n";

} // namespace

TEST(StartTls, TlsComesBeforeAuthAndOnlyTheCapabilitiesAfterItCount) {
    // Before TLS the server offers LOGIN only, inside TLS PLAIN only: PLAIN is used.
    ScriptedTransport t({kGreeting, kEhloWithStartTls, kReady,
                         "250-mail.test\r\n250 AUTH PLAIN\r\n", "235 ok\r\n", kOk, kOk, kOk,
                         "354 go\r\n", kOk, "221 bye\r\n"});
    ASSERT_FALSE(SendSmtpMessage(Config(true, ConnectionSecurity::StartTls), Message(), t));
    EXPECT_EQ(t.connected, "mail.test:25") << "the connection starts in plain text";
    const std::vector<std::string> expected = {"EHLO clientRSET",
                                               "STARTTLS",
                                               "[TLS mail.test]",
                                               "EHLO clientRSET",
                                               std::string("AUTH PLAIN ") + kPlainArgument,
                                               "MAIL FROM:<w@x.test>",
                                               "RCPT TO:<a@x.test>",
                                               "RCPT TO:<b@y.test>",
                                               "DATA",
                                               "<data>",
                                               "QUIT"};
    EXPECT_EQ(Commands(t.sent), expected);

    // AUTH offered before TLS and not inside it: no AUTH at all.
    ScriptedTransport dropped({kGreeting, kEhloWithStartTls, kReady, "250 mail.test\r\n"});
    const Failure f =
        SendSmtpMessage(Config(true, ConnectionSecurity::StartTls), Message(), dropped);
    ASSERT_TRUE(f.has_value());
    EXPECT_EQ(f->number, smtp_errors::kLogonFailed);
    EXPECT_EQ(dropped.sent.find("AUTH"), std::string::npos);
}

TEST(StartTls, WithoutTlsNothingFollowsInPlainTextButQuit) {
    struct Case {
        const char* name;
        std::deque<std::string> script;
        Failure handshake;
        std::vector<std::string> commands;
        const char* description;
    } cases[] = {
        {"not offered",
         {kGreeting, "250-mail.test\r\n250-AUTH PLAIN\r\n250 STARTTLSX\r\n"},
         std::nullopt,
         {"EHLO clientRSET", "QUIT"},
         "The secure connection to the server failed: the server does not offer STARTTLS, and "
         "the message is not sent without it."},
        {"EHLO refused: no HELO",
         {kGreeting, "502 5.5.1 no\r\n"},
         std::nullopt,
         {"EHLO clientRSET", "QUIT"},
         "The secure connection to the server failed: the server does not offer STARTTLS, and "
         "the message is not sent without it."},
        {"refused",
         {kGreeting, kEhloWithStartTls, "454 4.7.0 TLS not available\r\n"},
         std::nullopt,
         {"EHLO clientRSET", "STARTTLS", "QUIT"},
         "The secure connection to the server failed: the server refused STARTTLS, and the "
         "message is not sent without it. The server response was: 454 4.7.0 TLS not "
         "available"},
        {"a reply ahead of the handshake",
         {kGreeting, kEhloWithStartTls, "220 go ahead\r\n250 AUTH PLAIN\r\n"},
         std::nullopt,
         {"EHLO clientRSET", "STARTTLS"},
         "The secure connection to the server failed: the server sent data ahead of the TLS "
         "handshake."},
        {"handshake failed",
         {kGreeting, kEhloWithStartTls, kReady},
         VbError{smtp_errors::kSecureChannelFailed,
                 "The secure connection to the server failed: x"},
         {"EHLO clientRSET", "STARTTLS", "[TLS mail.test]"},
         "The secure connection to the server failed: x"},
    };
    for (auto& c : cases) {
        ScriptedTransport t(c.script);
        t.handshake = c.handshake;
        const Failure f = SendSmtpMessage(Config(true, ConnectionSecurity::StartTls), Message(), t);
        ASSERT_TRUE(f.has_value()) << c.name;
        EXPECT_EQ(f->number, smtp_errors::kSecureChannelFailed) << c.name;
        EXPECT_EQ(f->description, c.description) << c.name;
        EXPECT_EQ(Commands(t.sent), c.commands) << c.name;
    }
}

TEST(StartTls, ImplicitTlsAsksTheTransportFromTheFirstByte) {
    ScriptedTransport t({kGreeting, kEhloWithStartTls, kOk, kOk, kOk, "354 go\r\n", kOk, ""});
    ASSERT_FALSE(SendSmtpMessage(Config(false, ConnectionSecurity::ImplicitTls), Message(), t));
    EXPECT_EQ(t.connected, "mail.test:25 tls");
    EXPECT_EQ(t.sent.find("STARTTLS"), std::string::npos);
}

namespace {

// An access token as long as real ones (1.5 to 2.5 KB), and one short enough for the AUTH line.
const std::string kLongToken = "eyJ0eXAiOiJKV1Qi." + std::string(2000, 'T') + ".sig-_x";
const std::string kShortToken = "ya29.short-Token_1";

SmtpConfig TokenConfig(const std::string& token) {
    SmtpConfig c = Config(true, ConnectionSecurity::ImplicitTls);
    c.logon = SmtpLogon::XOAuth2;
    c.userName = "ann@x.test";
    c.password.clear();
    c.accessToken = token;
    return c;
}

std::string XOAuth2Argument(const std::string& token) {
    return Base64Encode("user=ann@x.test\x01"
                        "auth=Bearer " +
                        token + "\x01\x01");
}

// The lines between EHLO and MAIL FROM (or the end).
std::vector<std::string> AuthLines(const std::string& sent) {
    const std::vector<std::string> commands = Commands(sent);
    std::vector<std::string> out;
    for (std::size_t i = 1; i < commands.size() && commands[i].rfind("MAIL", 0) != 0; ++i) {
        out.push_back(commands[i]);
    }
    return out;
}

const char* kEhloXOAuth2 = "250-mail.test\r\n250 AUTH LOGIN PLAIN XOAUTH2\r\n";
// Google's error challenge: {"status":"401","schemes":"bearer","scope":"https://mail.google.com/"}
const char* kErrorChallenge =
    "334 eyJzdGF0dXMiOiI0MDEiLCJzY2hlbWVzIjoiYmVhcmVyIiwic2NvcGUiOiJodHRwc"
    "zovL21haWwuZ29vZ2xlLmNvbS8ifQ==\r\n";

} // namespace

// XOAUTH2 whatever else is offered; the initial response on the AUTH line only while the line
// keeps within 512 octets; a refused token answered with an empty line, its status reported, and
// neither token nor its encoding in the error, however the server echoes them.
TEST(SendSmtpMessage, XOAuth2LogOn) {
    const std::string longArgument = XOAuth2Argument(kLongToken);
    struct Case {
        const char* name;
        std::string token;
        std::vector<std::string> replies; // to the AUTH exchange
        std::vector<std::string> lines;   // the client's, from AUTH on
        const char* failure;              // nullptr: delivered
    } cases[] = {
        {"short token on the AUTH line",
         kShortToken,
         {"235 2.7.0 Accepted\r\n"},
         {"AUTH XOAUTH2 " + XOAuth2Argument(kShortToken)},
         nullptr},
        {"long token after the empty 334",
         kLongToken,
         {"334 \r\n", "235 2.7.0 Accepted\r\n"},
         {"AUTH XOAUTH2", longArgument},
         nullptr},
        {"long token refused with the error challenge",
         kLongToken,
         {"334 \r\n", kErrorChallenge,
          "535-5.7.8 Username and Password not accepted " + kLongToken.substr(100, 30) +
              "\r\n535 5.7.8 " + longArgument.substr(0, 600) + "\r\n"},
         {"AUTH XOAUTH2", longArgument, ""},
         "The server rejected the access token (the provider's status: 401). The server response "
         "was: 535 5.7.8 Username and Password not accepted [hidden] 5.7.8 [hidden]"},
        {"short token refused, a challenge without status, the token echoed whole",
         kShortToken,
         {"334 bm90IGpzb24=\r\n", "535 5.7.3 bad token " + kShortToken + "\r\n"},
         {"AUTH XOAUTH2 " + XOAuth2Argument(kShortToken), ""},
         "The server rejected the access token. The server response was: 535 5.7.3 bad token "
         "[hidden]"},
        {"AUTH itself refused",
         kLongToken,
         {"504 5.5.4 Unrecognized authentication type\r\n"},
         {"AUTH XOAUTH2"},
         "The server rejected the access token. The server response was: 504 5.5.4 "
         "Unrecognized authentication type"},
    };
    for (const Case& c : cases) {
        std::deque<std::string> script{kGreeting, kEhloXOAuth2};
        script.insert(script.end(), c.replies.begin(), c.replies.end());
        script.insert(script.end(), {kOk, kOk, kOk, "354 go\r\n", kOk, "221 bye\r\n"});
        ScriptedTransport t(script);
        const Failure f = SendSmtpMessage(TokenConfig(c.token), Message(), t);
        EXPECT_EQ(AuthLines(t.sent), c.lines) << c.name;
        for (const std::string& line : c.lines) {
            if (line.rfind("AUTH ", 0) == 0) {
                EXPECT_LE(line.size() + 2, 512u) << c.name;
            }
        }
        if (c.failure == nullptr) {
            EXPECT_FALSE(f.has_value()) << c.name << ": " << f->description;
            continue;
        }
        ASSERT_TRUE(f.has_value()) << c.name;
        EXPECT_EQ(f->number, smtp_errors::kLogonFailed) << c.name;
        EXPECT_EQ(f->description, c.failure) << c.name;
        EXPECT_EQ(f->description.find(c.token.substr(0, 12)), std::string::npos) << c.name;
        EXPECT_NE(Commands(t.sent).back().rfind("MAIL", 0), 0u) << c.name;
    }

    // A server without XOAUTH2 gets no token at all, not even in another mechanism.
    ScriptedTransport t({kGreeting, "250-mail.test\r\n250 AUTH PLAIN LOGIN\r\n", "221 bye\r\n"});
    const Failure f = SendSmtpMessage(TokenConfig(kShortToken), Message(), t);
    ASSERT_TRUE(f.has_value());
    EXPECT_EQ(f->description,
              "The server does not offer the XOAUTH2 logon that an OAuth sign-in needs.");
    EXPECT_EQ(t.sent.find("AUTH"), std::string::npos);
}

// AUTH PLAIN keeps the same 512-octet rule: the longest password whose AUTH line fits rides on
// it, one character more and the response follows the server's 334.
TEST(SendSmtpMessage, AuthPlainKeepsTheCommandLimit) {
    // "\0user\0" and 366 characters are 372 octets, 496 in base64: a line of 509 with CRLF. One
    // more character makes 500 in base64, 513 on the line.
    const std::size_t atLimit = 366;
    for (const std::size_t length : {atLimit, atLimit + 1}) {
        SmtpConfig config = Config(true);
        config.password = std::string(length, 'p');
        const std::string argument = Base64Encode(std::string("\0user\0", 6) + config.password);
        const bool oneLine = length == atLimit;
        std::deque<std::string> script{kGreeting, "250 AUTH PLAIN\r\n"};
        if (!oneLine) {
            script.push_back("334 \r\n");
        }
        script.insert(script.end(),
                      {"235 ok\r\n", kOk, kOk, kOk, "354 go\r\n", kOk, "221 bye\r\n"});
        ScriptedTransport t(script);
        ASSERT_FALSE(SendSmtpMessage(config, Message(), t).has_value()) << length;
        const std::vector<std::string> expected =
            oneLine ? std::vector<std::string>{"AUTH PLAIN " + argument}
                    : std::vector<std::string>{"AUTH PLAIN", argument};
        EXPECT_EQ(AuthLines(t.sent), expected) << length;
        EXPECT_EQ(("AUTH PLAIN " + argument).size() + 2 <= 512, oneLine) << length;
    }
}
