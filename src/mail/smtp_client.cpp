#include "mail/smtp_client.h"

#include "common/text.h"

#include <nlohmann/json.hpp>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <ctime>
#include <random>

namespace modSendEmail {

namespace {

// After the message was accepted the QUIT reply is a courtesy: do not wait long for it.
constexpr std::chrono::milliseconds kQuitWait{5000};
// A server word at least this long that is part of a secret the client sent counts as its echo.
constexpr std::size_t kMinEchoFragment = 8;
// SMTP's longest command line, CRLF included (RFC 5321 section 4.5.3.1.4).
constexpr std::size_t kMaxCommandLine = 512;

bool IsDigit(char c) {
    return c >= '0' && c <= '9';
}

bool IsBlank(char c) {
    return c == ' ' || c == '\t' || c == '\r' || c == '\n';
}

bool IsBase64Char(char c) {
    return IsDigit(c) || (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || c == '+' || c == '/' ||
           c == '=';
}

constexpr std::string_view kHidden = "[hidden]";

// The initial response of AUTH PLAIN, before its base64.
std::string PlainResponse(const SmtpConfig& config) {
    std::string plain;
    plain += '\0';
    plain += config.userName;
    plain += '\0';
    plain += config.password;
    return plain;
}

// The initial response of AUTH XOAUTH2, before its base64.
std::string XOAuth2Response(const SmtpConfig& config) {
    constexpr char kSeparator = '\x01';
    return "user=" + config.userName + kSeparator + "auth=Bearer " + config.accessToken +
           kSeparator + kSeparator;
}

// What the client sends to authenticate, in every form a server might echo it back.
std::vector<std::string> Secrets(const SmtpConfig& config) {
    if (!config.authenticate) {
        return {};
    }
    if (config.logon == SmtpLogon::XOAuth2) {
        std::vector<std::string> secrets = {Base64Encode(XOAuth2Response(config))};
        if (!config.accessToken.empty()) {
            secrets.push_back(config.accessToken);
        }
        return secrets;
    }
    std::vector<std::string> secrets = {Base64Encode(PlainResponse(config))};
    if (!config.password.empty()) {
        secrets.push_back(config.password);
        secrets.push_back(Base64Encode(config.password));
    }
    return secrets;
}

// Server text with every echo of a secret hidden: each whole occurrence, and each word that is
// a long enough piece of one (a server may cut what it echoes).
std::string Redact(std::string_view text, const std::vector<std::string>& secrets) {
    std::string whole(text);
    for (const std::string& secret : secrets) {
        for (std::size_t at = 0; (at = whole.find(secret, at)) != std::string::npos;) {
            whole.replace(at, secret.size(), kHidden);
            at += kHidden.size();
        }
    }
    if (secrets.empty()) {
        return whole;
    }
    std::string out;
    for (std::size_t i = 0; i < whole.size();) {
        if (IsBlank(whole[i])) {
            out += whole[i++];
            continue;
        }
        std::size_t end = i;
        while (end < whole.size() && !IsBlank(whole[end])) {
            ++end;
        }
        std::string_view word = std::string_view(whole).substr(i, end - i);
        std::string_view core = word;
        while (!core.empty() && !IsBase64Char(core.front())) {
            core.remove_prefix(1);
        }
        while (!core.empty() && !IsBase64Char(core.back())) {
            core.remove_suffix(1);
        }
        const bool echo = core.size() >= kMinEchoFragment &&
                          std::any_of(secrets.begin(), secrets.end(), [&](const std::string& s) {
                              return s.find(core) != std::string::npos;
                          });
        out += echo ? kHidden : word;
        i = end;
    }
    return out;
}

class Session {
public:
    Session(SmtpTransport& transport, const SmtpConfig& config)
        : transport_(transport), timeout_(config.connectionTimeout),
          clock_(config.clock ? config.clock : [] { return std::chrono::steady_clock::now(); }),
          end_(clock_() + config.sessionLimit), secrets_(Secrets(config)) {}

    // The end of a wait of at most wait, and never past the session's end.
    Deadline WaitEnd(std::chrono::milliseconds wait) const {
        return std::min(clock_() + wait, end_);
    }
    Deadline NextDeadline() const { return WaitEnd(timeout_); }
    bool SessionOver() const { return clock_() >= end_; }

    // One whole reply, within one timeout.
    Outcome<SmtpReply> ReadReply(std::chrono::milliseconds wait) {
        const Deadline deadline = WaitEnd(wait);
        for (;;) {
            switch (parser_.Feed({})) {
            case SmtpReplyParser::State::Complete:
                return parser_.Take();
            case SmtpReplyParser::State::Malformed:
                return VbError{smtp_errors::kSendFailed,
                               "The server's reply is not SMTP: " + Describe(parser_.Pending())};
            case SmtpReplyParser::State::TooLong:
                return VbError{smtp_errors::kSendFailed,
                               "The server's reply is longer than 64 KiB, the most it may be."};
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

    Failure Send(std::string_view line) { return transport_.Write(line, NextDeadline()); }

    // Sends a command line and reads its reply.
    Outcome<SmtpReply> Command(const std::string& line) {
        if (Failure f = Send(line + "\r\n")) {
            return *f;
        }
        return ReadReply();
    }

    // Ends the session politely; how the server answers no longer matters, so the wait is short.
    void Quit() {
        if (!Send("QUIT\r\n")) {
            (void)ReadReply(std::min(timeout_, kQuitWait));
        }
    }

    // Received bytes that no reply has taken yet.
    bool HasPendingBytes() const { return !parser_.Pending().empty(); }

    // Server text fit for the log, with nothing of the credentials in it.
    std::string Describe(std::string_view text) const {
        return SanitizeServerText(Redact(text, secrets_));
    }

    VbError Refusal(long number, std::string_view what, const SmtpReply& reply) const {
        return {number, std::string(what) + " The server response was: " +
                            Describe(std::to_string(reply.code) + " " + reply.Text())};
    }

private:
    SmtpTransport& transport_;
    std::chrono::milliseconds timeout_;
    std::function<Deadline()> clock_;
    Deadline end_;
    std::vector<std::string> secrets_;
    SmtpReplyParser parser_;
};

bool Positive(const SmtpReply& r) {
    return r.code >= 200 && r.code < 300;
}

// Whether the EHLO reply announces the keyword as an extension line of its own.
bool Announces(const SmtpReply& ehlo, std::string_view keyword) {
    for (std::size_t i = 1; i < ehlo.lines.size(); ++i) {
        std::string_view line = ehlo.lines[i];
        while (!line.empty() && line.back() == ' ') {
            line.remove_suffix(1);
        }
        if (text::EqualsIgnoreCaseAscii(line, keyword)) {
            return true;
        }
    }
    return false;
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

// AUTH with an initial response (RFC 4954 section 4): on the AUTH line when the line fits SMTP's
// command limit, otherwise alone after the server's empty 334 (a server may refuse the longer
// line outright). The reply is the server's answer to the response, or its refusal of AUTH.
Outcome<SmtpReply> AuthWithResponse(Session& s, const std::string& mechanism,
                                    const std::string& response) {
    const std::string line = "AUTH " + mechanism + " " + response;
    if (line.size() + 2 <= kMaxCommandLine) {
        return s.Command(line);
    }
    Outcome<SmtpReply> r = s.Command("AUTH " + mechanism);
    if (!r || r.value().code != 334) {
        return r;
    }
    return s.Command(response);
}

// The "status" of an XOAUTH2 error challenge (base64 of a JSON object); empty when it has none.
std::string ProviderStatus(const SmtpReply& challenge) {
    const std::optional<std::string> decoded = Base64Decode(challenge.Text());
    if (!decoded) {
        return {};
    }
    const nlohmann::json answer = nlohmann::json::parse(*decoded, nullptr, false);
    if (!answer.is_object()) {
        return {};
    }
    const auto status = answer.find("status");
    if (status == answer.end()) {
        return {};
    }
    if (status->is_string()) {
        return SanitizeServerText(status->get<std::string>().substr(0, 40));
    }
    if (status->is_number_integer()) {
        return std::to_string(status->get<long long>());
    }
    return {};
}

// AUTH XOAUTH2. A refused token comes back as a 334 error challenge, which the client answers
// with an empty line to have the server's final reply.
Failure LogOnWithToken(Session& s, const SmtpReply& ehlo, const SmtpConfig& config) {
    const std::vector<std::string> mechanisms = AuthMechanisms(ehlo);
    if (std::find(mechanisms.begin(), mechanisms.end(), "XOAUTH2") == mechanisms.end()) {
        return VbError{smtp_errors::kLogonFailed,
                       "The server does not offer the XOAUTH2 logon that an OAuth sign-in needs."};
    }
    Outcome<SmtpReply> r = AuthWithResponse(s, "XOAUTH2", Base64Encode(XOAuth2Response(config)));
    std::string status;
    if (r && r.value().code == 334) {
        status = ProviderStatus(r.value());
        r = s.Command("");
    }
    if (!r) {
        return r.error();
    }
    if (r.value().code != 235) {
        return s.Refusal(smtp_errors::kLogonFailed,
                         status.empty() ? "The server rejected the access token."
                                        : "The server rejected the access token (the "
                                          "provider's status: " +
                                              status + ").",
                         r.value());
    }
    return std::nullopt;
}

Failure Authenticate(Session& s, const SmtpReply& ehlo, const SmtpConfig& config) {
    if (config.logon == SmtpLogon::XOAuth2) {
        return LogOnWithToken(s, ehlo, config);
    }
    const std::vector<std::string> mechanisms = AuthMechanisms(ehlo);
    auto offers = [&](const char* m) {
        return std::find(mechanisms.begin(), mechanisms.end(), m) != mechanisms.end();
    };
    Outcome<SmtpReply> r = VbError{};
    if (offers("PLAIN")) {
        r = AuthWithResponse(s, "PLAIN", Base64Encode(PlainResponse(config)));
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
        return s.Refusal(smtp_errors::kLogonFailed, "The server rejected the logon attempt.",
                         r.value());
    }
    return std::nullopt;
}

// EHLO, or HELO when EHLO is refused; the reply's lines are the extensions the server offers.
Outcome<SmtpReply> Greet(Session& s, const std::string& name) {
    Outcome<SmtpReply> ehlo = s.Command("EHLO " + name);
    if (!ehlo || Positive(ehlo.value())) {
        return ehlo;
    }
    ehlo = s.Command("HELO " + name);
    if (!ehlo) {
        return ehlo;
    }
    if (!Positive(ehlo.value())) {
        return s.Refusal(smtp_errors::kSendFailed, "The server refused the greeting.",
                         ehlo.value());
    }
    ehlo.value().lines.clear(); // HELO names no extensions
    return ehlo;
}

VbError NotSecured(const std::string& why) {
    return {smtp_errors::kSecureChannelFailed,
            "The secure connection to the server failed: " + why};
}

// STARTTLS after a plain EHLO: the server must offer it and agree, and nothing may follow its
// agreement before the handshake. Failing, nothing but QUIT goes out in plain text.
Failure StartTls(Session& s, SmtpTransport& transport, const SmtpConfig& config,
                 const SmtpReply& ehlo) {
    if (!Positive(ehlo) || !Announces(ehlo, "STARTTLS")) {
        s.Quit();
        return NotSecured("the server does not offer STARTTLS, and the message is not sent "
                          "without it.");
    }
    Outcome<SmtpReply> r = s.Command("STARTTLS");
    if (!r) {
        return r.error();
    }
    if (r.value().code != 220) {
        s.Quit();
        return s.Refusal(smtp_errors::kSecureChannelFailed,
                         "The secure connection to the server failed: the server refused "
                         "STARTTLS, and the message is not sent without it.",
                         r.value());
    }
    if (s.HasPendingBytes()) {
        return NotSecured("the server sent data ahead of the TLS handshake.");
    }
    return transport.StartTls(config.server, s.NextDeadline());
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

// The conversation itself, from the connection on.
Failure Deliver(Session& s, SmtpTransport& transport, const SmtpConfig& config,
                const std::vector<std::string>& senders, const std::vector<std::string>& recipients,
                const std::string& data, const std::function<void()>& onAccepted) {
    const bool startTls = config.security == ConnectionSecurity::StartTls;
    if (Failure f = transport.Connect(config.server, config.port,
                                      config.security == ConnectionSecurity::ImplicitTls,
                                      s.NextDeadline())) {
        return f;
    }
    Outcome<SmtpReply> r = s.ReadReply();
    if (!r) {
        return r.error();
    }
    if (r.value().code != 220) {
        return s.Refusal(smtp_errors::kConnectFailed, "The server refused the session.", r.value());
    }
    const std::string name = ClientName(transport);
    // With STARTTLS, a refused EHLO means no STARTTLS: HELO would be a plain-text step more.
    Outcome<SmtpReply> ehlo = startTls ? s.Command("EHLO " + name) : Greet(s, name);
    if (!ehlo) {
        return ehlo.error();
    }
    if (startTls) {
        if (Failure f = StartTls(s, transport, config, ehlo.value())) {
            return f;
        }
        // Only what the server offers inside TLS counts.
        ehlo = Greet(s, name);
        if (!ehlo) {
            return ehlo.error();
        }
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
        return s.Refusal(smtp_errors::kSenderRejected, "The server rejected the sender address.",
                         r.value());
    }
    for (const std::string& recipient : recipients) {
        r = s.Command("RCPT TO:<" + recipient + ">");
        if (!r) {
            return r.error();
        }
        if (!Positive(r.value())) {
            return s.Refusal(smtp_errors::kRecipientsRejected,
                             "The server rejected one or more recipient addresses.", r.value());
        }
    }
    r = s.Command("DATA");
    if (!r) {
        return r.error();
    }
    if (r.value().code != 354) {
        return s.Refusal(smtp_errors::kSendFailed, "The server refused the message.", r.value());
    }
    if (Failure f = s.Send(data)) {
        return f;
    }
    r = s.ReadReply();
    if (!r) {
        return r.error();
    }
    if (!Positive(r.value())) {
        return s.Refusal(smtp_errors::kSendFailed, "The server refused the message.", r.value());
    }
    if (onAccepted) {
        onAccepted();
    }
    s.Quit(); // accepted: the rest is a courtesy
    return std::nullopt;
}

} // namespace

Failure SendSmtpMessage(const SmtpConfig& config, const NotificationMessage& message,
                        SmtpTransport& transport, const std::function<void()>& onAccepted) {
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

    Session s(transport, config);
    Failure f = Deliver(s, transport, config, senders, recipients, data, onAccepted);
    if (f && f->number == smtp_errors::kTimedOut && s.SessionOver()) {
        f->description =
            "The server did not finish the session within " +
            std::to_string(
                std::chrono::duration_cast<std::chrono::seconds>(config.sessionLimit).count()) +
            " seconds.";
    }
    return f;
}

} // namespace modSendEmail
