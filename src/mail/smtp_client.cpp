#include "mail/smtp_client.h"

#include "common/text.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <ctime>
#include <random>

namespace modSendEmail {

namespace {

constexpr std::size_t kMaxReply = 64 * 1024;
// After the message was accepted the QUIT reply is a courtesy: do not wait long for it.
constexpr std::chrono::milliseconds kQuitWait{5000};

VbError Refusal(long number, const char* what, const SmtpReply& reply) {
    return {number, std::string(what) + " The server response was: " +
                        SanitizeServerText(std::to_string(reply.code) + " " + reply.Text())};
}

bool IsDigit(char c) {
    return c >= '0' && c <= '9';
}

class Session {
public:
    Session(SmtpTransport& transport, std::chrono::milliseconds timeout)
        : transport_(transport), timeout_(timeout) {}

    // One whole reply, within one timeout.
    Outcome<SmtpReply> ReadReply(std::chrono::milliseconds wait) {
        const Deadline deadline = std::chrono::steady_clock::now() + wait;
        for (;;) {
            switch (parser_.Feed({})) {
            case SmtpReplyParser::State::Complete:
                return parser_.Take();
            case SmtpReplyParser::State::Malformed:
                return VbError{smtp_errors::kSendFailed, "The server's reply is not SMTP: " +
                                                             SanitizeServerText(parser_.Pending())};
            case SmtpReplyParser::State::NeedMore:
                break;
            }
            char buffer[4096];
            Outcome<std::size_t> n = transport_.Read(buffer, sizeof buffer, deadline);
            if (!n) {
                return n.error();
            }
            if (n.value() == 0) {
                return VbError{smtp_errors::kConnectionLost,
                               "The transport lost its connection to the server."};
            }
            if (parser_.Feed(std::string_view(buffer, n.value())) ==
                SmtpReplyParser::State::Complete) {
                return parser_.Take();
            }
        }
    }
    Outcome<SmtpReply> ReadReply() { return ReadReply(timeout_); }

    Failure Send(std::string_view line) {
        return transport_.Write(line, std::chrono::steady_clock::now() + timeout_);
    }

    // Sends a command line and reads its reply.
    Outcome<SmtpReply> Command(const std::string& line) {
        if (Failure f = Send(line + "\r\n")) {
            return *f;
        }
        return ReadReply();
    }

private:
    SmtpTransport& transport_;
    std::chrono::milliseconds timeout_;
    SmtpReplyParser parser_;
};

bool Positive(const SmtpReply& r) {
    return r.code >= 200 && r.code < 400;
}

// The mechanisms named by the EHLO reply's AUTH lines ("AUTH PLAIN LOGIN", "AUTH=LOGIN").
std::vector<std::string> AuthMechanisms(const SmtpReply& ehlo) {
    std::vector<std::string> out;
    for (const std::string& line : ehlo.lines) {
        const std::string upper = text::ToUpperAscii(line);
        if (upper.rfind("AUTH", 0) != 0 || upper.size() < 5 ||
            (upper[4] != ' ' && upper[4] != '=')) {
            continue;
        }
        std::size_t i = 5;
        while (i < upper.size()) {
            const std::size_t end = std::min(upper.find(' ', i), upper.size());
            if (end > i) {
                out.push_back(upper.substr(i, end - i));
            }
            i = end + 1;
        }
    }
    return out;
}

Failure Authenticate(Session& s, const SmtpReply& ehlo, const SmtpConfig& config) {
    const std::vector<std::string> mechanisms = AuthMechanisms(ehlo);
    auto offers = [&](const char* m) {
        return std::find(mechanisms.begin(), mechanisms.end(), m) != mechanisms.end();
    };
    Outcome<SmtpReply> r = VbError{};
    if (offers("PLAIN")) {
        std::string credentials;
        credentials += '\0';
        credentials += config.userName;
        credentials += '\0';
        credentials += config.password;
        r = s.Command("AUTH PLAIN " + Base64Encode(credentials));
    } else if (offers("LOGIN")) {
        r = s.Command("AUTH LOGIN");
        if (r && r.value().code == 334) {
            r = s.Command(Base64Encode(config.userName));
        }
        if (r && r.value().code == 334) {
            r = s.Command(Base64Encode(config.password));
        }
    } else {
        return VbError{smtp_errors::kLogonFailed,
                       "The server offers no supported authentication method (PLAIN, LOGIN)."};
    }
    if (!r) {
        return r.error();
    }
    if (r.value().code != 235) {
        return Refusal(smtp_errors::kLogonFailed, "The server rejected the logon attempt.",
                       r.value());
    }
    return std::nullopt;
}

std::string ClientName(SmtpTransport& transport) {
    std::string name;
    for (char c : transport.LocalHostName()) {
        if (IsDigit(c) || (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || c == '-' ||
            c == '.') {
            name += c;
        }
    }
    return name.empty() ? "localhost" : name;
}

std::string NewMessageId(const std::string& sender) {
    std::random_device device;
    std::mt19937_64 random((std::uint64_t(device()) << 32) ^ device());
    const auto now = std::chrono::system_clock::now().time_since_epoch();
    char id[80];
    std::snprintf(id, sizeof id, "%llx.%016llx",
                  static_cast<unsigned long long>(
                      std::chrono::duration_cast<std::chrono::microseconds>(now).count()),
                  static_cast<unsigned long long>(random()));
    const std::size_t at = sender.rfind('@');
    const std::string domain = at == std::string::npos ? "" : sender.substr(at + 1);
    return std::string(id) + "@" + (domain.empty() ? "localhost" : domain);
}

std::tm UtcNow() {
    const std::time_t now = std::time(nullptr);
    std::tm t{};
    if (const std::tm* g = std::gmtime(&now)) {
        t = *g;
    }
    return t;
}

} // namespace

std::string SmtpReply::Text() const {
    std::string t;
    for (const std::string& line : lines) {
        if (!t.empty()) {
            t += "\r\n";
        }
        t += line;
    }
    return t;
}

SmtpReplyParser::State SmtpReplyParser::Feed(std::string_view bytes) {
    buffer_.append(bytes);
    for (;;) {
        const std::size_t lf = buffer_.find('\n');
        if (lf == std::string::npos) {
            return buffer_.size() > kMaxReply ? State::Malformed : State::NeedMore;
        }
        std::string line = buffer_.substr(0, lf);
        if (!line.empty() && line.back() == '\r') {
            line.pop_back();
        }
        // Reply codes start with 2 to 5; anything else is not a server speaking SMTP.
        if (line.size() < 3 || line[0] < '2' || line[0] > '5' || !IsDigit(line[1]) ||
            !IsDigit(line[2]) || (line.size() > 3 && line[3] != ' ' && line[3] != '-')) {
            return State::Malformed;
        }
        const int code = std::stoi(line.substr(0, 3));
        if (haveCode_ && code != reply_.code) {
            return State::Malformed;
        }
        reply_.code = code;
        haveCode_ = true;
        reply_.lines.push_back(line.size() > 4 ? line.substr(4) : std::string());
        buffer_.erase(0, lf + 1);
        if (line.size() == 3 || line[3] == ' ') {
            return State::Complete;
        }
        if (reply_.lines.size() > 1000) {
            return State::Malformed;
        }
    }
}

SmtpReply SmtpReplyParser::Take() {
    SmtpReply r = std::move(reply_);
    reply_ = SmtpReply{};
    haveCode_ = false;
    return r;
}

Failure SendSmtpMessage(const SmtpConfig& config, const NotificationMessage& message,
                        SmtpTransport& transport) {
    // Envelope first: nothing goes on the wire for addresses that cannot be sent safely.
    const std::vector<std::string> senders = SplitAddresses(SanitizeHeaderValue(message.From));
    if (senders.empty() || !IsSafeEnvelopeAddress(senders.front())) {
        return VbError{smtp_errors::kSenderRejected,
                       "The sender address is not valid: " + SanitizeServerText(message.From)};
    }
    const std::vector<std::string> recipients = SplitAddresses(SanitizeHeaderValue(message.To));
    if (recipients.empty()) {
        return VbError{smtp_errors::kRecipientsRejected, "There is no recipient address."};
    }
    for (const std::string& r : recipients) {
        if (!IsSafeEnvelopeAddress(r)) {
            return VbError{smtp_errors::kRecipientsRejected,
                           "A recipient address is not valid: " + SanitizeServerText(r)};
        }
    }
    WireInputs inputs{platform::MailCharset(), UtcNow(), NewMessageId(senders.front())};
    const std::string data = DotStuff(BuildMessageData(message, inputs)) + ".\r\n";

    if (Failure f =
            transport.Connect(config.server, config.port, config.useSsl,
                              std::chrono::steady_clock::now() + config.connectionTimeout)) {
        return f;
    }
    Session s(transport, config.connectionTimeout);
    Outcome<SmtpReply> r = s.ReadReply();
    if (!r) {
        return r.error();
    }
    if (r.value().code != 220) {
        return Refusal(smtp_errors::kConnectFailed, "The server refused the session.", r.value());
    }
    const std::string name = ClientName(transport);
    Outcome<SmtpReply> ehlo = s.Command("EHLO " + name);
    if (!ehlo) {
        return ehlo.error();
    }
    if (!Positive(ehlo.value())) {
        ehlo = s.Command("HELO " + name);
        if (!ehlo) {
            return ehlo.error();
        }
        if (!Positive(ehlo.value())) {
            return Refusal(smtp_errors::kSendFailed, "The server refused the greeting.",
                           ehlo.value());
        }
        ehlo.value().lines.clear(); // HELO names no extensions
    }
    if (config.authenticate) {
        if (Failure f = Authenticate(s, ehlo.value(), config)) {
            return f;
        }
    }
    r = s.Command("MAIL FROM:<" + senders.front() + ">");
    if (!r) {
        return r.error();
    }
    if (!Positive(r.value())) {
        return Refusal(smtp_errors::kSenderRejected, "The server rejected the sender address.",
                       r.value());
    }
    for (const std::string& recipient : recipients) {
        r = s.Command("RCPT TO:<" + recipient + ">");
        if (!r) {
            return r.error();
        }
        if (!Positive(r.value())) {
            return Refusal(smtp_errors::kRecipientsRejected,
                           "The server rejected one or more recipient addresses.", r.value());
        }
    }
    r = s.Command("DATA");
    if (!r) {
        return r.error();
    }
    if (r.value().code != 354) {
        return Refusal(smtp_errors::kSendFailed, "The server refused the message.", r.value());
    }
    if (Failure f = s.Send(data)) {
        return f;
    }
    r = s.ReadReply();
    if (!r) {
        return r.error();
    }
    if (!Positive(r.value())) {
        return Refusal(smtp_errors::kSendFailed, "The server refused the message.", r.value());
    }
    // Accepted: how the server answers QUIT no longer matters.
    if (!s.Send("QUIT\r\n")) {
        (void)s.ReadReply(std::min(config.connectionTimeout, kQuitWait));
    }
    return std::nullopt;
}

} // namespace modSendEmail
