// The notification's texts and the rules that keep what goes on the wire well-formed.
#include "mail/message.h"

#include <gtest/gtest.h>

#include <sstream>
#include <string>

using namespace modSendEmail;

namespace {

const std::string kFooter = "\r\n\r\nThis message sent by Quillfen - Addrwatch   v1.0.1 ";

std::vector<std::string> Lines(const std::string& crlfText) {
    std::vector<std::string> lines;
    std::size_t start = 0;
    for (std::size_t at; (at = crlfText.find("\r\n", start)) != std::string::npos; start = at + 2) {
        lines.push_back(crlfText.substr(start, at - start));
    }
    EXPECT_EQ(start, crlfText.size()) << "text ends without CRLF";
    return lines;
}

} // namespace

TEST(ComposeMessage, ToFromSubjectAndBodyWithTheVersionFooter) {
    struct Case {
        const char* subject;
        const char* address;
        const char* expectedSubject;
    } cases[] = {
        {"Office router", "203.0.113.7", "Office router - IP Change Notification"},
        {"", "Unknown", " - IP Change Notification"}, // no Subject and no computer name
        {"HOST-7", "", "HOST-7 - IP Change Notification"},
    };
    for (const auto& c : cases) {
        EmailSettingsRecord s;
        s.ToEmail = "a@example.test, b@example.test";
        s.FromEmail = "watch@example.test";
        s.Subject = c.subject;
        const NotificationMessage m = ComposeMessage(s, c.address);
        EXPECT_EQ(m.To, "a@example.test, b@example.test");
        EXPECT_EQ(m.From, "watch@example.test");
        EXPECT_EQ(m.Subject, c.expectedSubject);
        EXPECT_EQ(m.TextBody, std::string("New WAN IP Detected:  ") + c.address + kFooter);
    }
    EXPECT_EQ(MessageFooter(), kFooter);
}

TEST(ConvertToInteger16, NumbersWordsAndRange) {
    struct Case {
        const char* text;
        long expected; // the value, or -(error number) - 100000 for an error
    } cases[] = {
        {"1", 1},
        {"0", 0},
        {" 1 ", 1},
        {"+1", 1},
        {"-1", -1},
        {"1.5", 2},
        {"2.5", 2},
        {"0.5", 0},
        {"1e0", 1},
        {"&H1", 1},
        {"&HFFFF", -1},
        {"&O17", 15},
        {"32767", 32767},
        {"-32768", -32768},
        {"yes", -100013},
        {"1x", -100013},
        {"", -100013},
        {"&H", -100013},
        {"1e", -100013},
        {".", -100013},
        {"&HG", -100013},
        {"32768", -100006},
        {"-32769", -100006},
        {"1e9", -100006},
        {"&H10000", -100006},
    };
    for (const auto& c : cases) {
        const Outcome<int> r = ConvertToInteger16(c.text);
        if (c.expected <= -100000) {
            ASSERT_FALSE(r.ok()) << c.text;
            EXPECT_EQ(r.error().number, -(c.expected + 100000)) << c.text;
        } else {
            ASSERT_TRUE(r.ok()) << c.text;
            EXPECT_EQ(r.value(), c.expected) << c.text;
        }
    }
}

TEST(SplitAddresses, CommasSemicolonsDisplayNamesAndQuotes) {
    using V = std::vector<std::string>;
    struct Case {
        const char* list;
        V expected;
    } cases[] = {
        {"a@x.test", {"a@x.test"}},
        {"a@x.test, b@y.test", {"a@x.test", "b@y.test"}},
        {"a@x.test;b@y.test;", {"a@x.test", "b@y.test"}},
        {"Ann <a@x.test>, \"Doe, Bob\" <b@y.test>", {"a@x.test", "b@y.test"}},
        {"<a@x.test>", {"a@x.test"}},
        {" , ;", {}},
        {"\"x <no@p.test>\" <real@p.test>", {"real@p.test"}},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(SplitAddresses(c.list), c.expected) << c.list;
    }
    EXPECT_TRUE(IsSafeEnvelopeAddress("a.b+c@x.test"));
    for (const char* bad : {"", "a b@x", "a@x\r\nRSET", "a>@x", "a\x01@x"}) {
        EXPECT_FALSE(IsSafeEnvelopeAddress(bad)) << bad;
    }
}

TEST(WireText, LineEndsDotStuffingAndHeaderValues) {
    struct Case {
        const char* in;
        const char* normalized;
    } cases[] = {
        {"a\nb", "a\r\nb\r\n"},
        {"a\rb\r\n", "a\r\nb\r\n"},
        {"a\r\n\nb", "a\r\n\r\nb\r\n"},
        {"", ""},
        {"\n", "\r\n"},
        {"\r\r", "\r\n\r\n"},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(NormalizeLineEndings(c.in), c.normalized) << c.in;
    }
    EXPECT_EQ(DotStuff(".a\r\nb.\r\n.\r\n..\r\n"), "..a\r\nb.\r\n..\r\n...\r\n");
    EXPECT_EQ(SanitizeHeaderValue("a\r\nBcc: x@y\nz\r"), "a Bcc: x@y z ");
}

TEST(EncodeBody, SevenBitWhenItFitsElseQuotedPrintableWithinTheLimit) {
    const EncodedBody plain = EncodeBody("New WAN IP Detected:  1.2.3.4" + kFooter);
    EXPECT_EQ(plain.encoding, "7bit");
    EXPECT_EQ(plain.text, "New WAN IP Detected:  1.2.3.4" + kFooter + "\r\n");

    for (const std::string& body : {std::string(2000, 'x'), std::string("caf\xc3\xa9 \n= end "),
                                    std::string("nul\0byte", 8)}) {
        const EncodedBody e = EncodeBody(body);
        EXPECT_EQ(e.encoding, "quoted-printable");
        for (const std::string& line : Lines(e.text)) {
            EXPECT_LE(line.size(), 76u);
            for (unsigned char ch : line) {
                EXPECT_TRUE((ch >= 0x21 && ch < 0x7f) || ch == ' ') << int(ch);
            }
            EXPECT_NE(line.back(), ' ');
        }
    }
    EXPECT_EQ(EncodeBody("caf\xe9 = x ").text, "caf=E9 =3D x=20\r\n");
}

TEST(BuildMessageData, HeadersInOrderAndNoInjectedHeaderLine) {
    NotificationMessage m;
    m.To = "a@x.test\r\nBcc: victim@y.test";
    m.From = "w@x.test\nX-Evil: 1";
    m.Subject = "S\r\n\r\nbody? - IP Change Notification";
    m.TextBody = "line\n.\nMAIL FROM:<x@y>\n";
    WireInputs in;
    in.charset = "windows-1252";
    in.dateUtc.tm_year = 126;
    in.dateUtc.tm_mon = 0;
    in.dateUtc.tm_mday = 2;
    in.dateUtc.tm_wday = 5;
    in.dateUtc.tm_hour = 3;
    in.dateUtc.tm_min = 4;
    in.dateUtc.tm_sec = 5;
    in.messageId = "id.1@x.test";
    const std::vector<std::string> lines = Lines(BuildMessageData(m, in));
    const std::vector<std::string> expected = {
        "Date: Fri, 2 Jan 2026 03:04:05 +0000",
        "From: w@x.test X-Evil: 1",
        "To: a@x.test Bcc: victim@y.test",
        "Subject: S body? - IP Change Notification",
        "Message-ID: <id.1@x.test>",
        "MIME-Version: 1.0",
        "Content-Type: text/plain; charset=windows-1252",
        "Content-Transfer-Encoding: 7bit",
        "",
        "line",
        ".",
        "MAIL FROM:<x@y>",
    };
    EXPECT_EQ(lines, expected);
}

TEST(EncodeSubject, EightBitTextBecomesFoldedEncodedWords) {
    EXPECT_EQ(EncodeSubject("Plain - IP Change Notification", "UTF-8"),
              "Plain - IP Change Notification");
    EXPECT_EQ(EncodeSubject("B\xfcro", "windows-1252"), "=?windows-1252?B?Qvxybw==?=");
    const std::string folded = EncodeSubject(std::string(100, '\xe9'), "windows-1252");
    std::size_t start = 0, words = 0;
    while (start <= folded.size()) {
        const std::size_t end = std::min(folded.find("\r\n", start), folded.size());
        const std::string line = folded.substr(start, end - start);
        EXPECT_LE(line.size(), 76u);
        EXPECT_NE(line.find("=?windows-1252?B?"), std::string::npos);
        ++words;
        start = end + 3; // CRLF and the folding blank
    }
    EXPECT_EQ(words, 3u);
}

TEST(SanitizeServerText, ControlBytesJoinedLinesAndLength) {
    EXPECT_EQ(SanitizeServerText("550 no\r\n550 such\x1b[31m user\xff\r\n"),
              "550 no 550 such?[31m user?");
    const std::string longText = SanitizeServerText(std::string(5000, 'a'));
    EXPECT_LT(longText.size(), 400u);
    EXPECT_EQ(longText.substr(longText.size() - 3), "...");
}
