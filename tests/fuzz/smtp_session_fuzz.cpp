// One delivery against a server that answers anything, cut into reads anywhere. Whatever it
// answers: the client only moves on after the reply that allows it (220 greeting, 2xx or 3xx
// EHLO or HELO, 235 after AUTH, 334 or 235 inside AUTH LOGIN, 2xx MAIL and RCPT, 354 DATA);
// after any other reply it sends nothing more but QUIT; it never writes before the previous
// reply is whole; it reports success exactly when the end of the data got 2xx; its error texts
// are printable and never carry the password or its encodings; and only well-formed CRLF lines
// go on the wire.
#include "fuzz_input.h"
#include "mail/smtp_client.h"
#include "support/debug_capture.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

using namespace modSendEmail;

namespace {

void Check(bool ok, const char* what) {
    if (!ok) {
        std::fprintf(stderr, "invariant broken: %s\n", what);
        std::abort();
    }
}

// Serves the pieces one per Read; after the last, the server closes or falls silent.
class PieceTransport final : public SmtpTransport {
public:
    PieceTransport(std::vector<std::string_view> pieces, bool silentAtEnd)
        : pieces_(std::move(pieces)), silentAtEnd_(silentAtEnd) {}
    Failure Connect(const std::string&, const std::string&, bool tls, Deadline) override {
        tls_ = tls;
        return std::nullopt;
    }
    Outcome<std::size_t> Read(char* buffer, std::size_t size, Deadline) override {
        while (next_ < pieces_.size() && pieces_[next_].empty()) {
            ++next_;
        }
        if (next_ == pieces_.size()) {
            if (silentAtEnd_) {
                return VbError{smtp_errors::kTimedOut, "The server did not answer in time."};
            }
            return std::size_t{0};
        }
        std::string_view& piece = pieces_[next_];
        const std::size_t n = std::min(size, piece.size());
        piece.copy(buffer, n);
        piece.remove_prefix(n);
        return n;
    }
    Failure Write(std::string_view data, Deadline) override {
        sent += data;
        return std::nullopt;
    }
    std::string LocalHostName() override { return "client.test"; }

    bool tls_ = false;
    std::string sent;

private:
    std::vector<std::string_view> pieces_;
    std::size_t next_ = 0;
    bool silentAtEnd_;
};

enum class Kind {
    Greeting,
    Ehlo,
    Helo,
    AuthPlain,
    AuthLogin,
    User,
    Pass,
    Mail,
    Rcpt,
    Data,
    Payload,
    Quit,
    Other
};

struct Command {
    Kind kind;
    std::string line;
};

// The client's lines in order, the DATA payload as one entry.
std::vector<Command> Commands(const std::string& sent) {
    std::vector<Command> out;
    bool inPayload = false;
    for (std::size_t start = 0, at; (at = sent.find("\r\n", start)) != std::string::npos;
         start = at + 2) {
        const std::string line = sent.substr(start, at - start);
        if (inPayload) {
            if (line == ".") {
                out.push_back({Kind::Payload, {}});
                inPayload = false;
            }
            continue;
        }
        const Kind previous = out.empty() ? Kind::Greeting : out.back().kind;
        Kind kind = Kind::Other;
        auto starts = [&](const char* p) { return line.rfind(p, 0) == 0; };
        if (starts("EHLO ")) {
            kind = Kind::Ehlo;
        } else if (starts("HELO ")) {
            kind = Kind::Helo;
        } else if (starts("AUTH PLAIN ")) {
            kind = Kind::AuthPlain;
        } else if (line == "AUTH LOGIN") {
            kind = Kind::AuthLogin;
        } else if (starts("MAIL FROM:<")) {
            kind = Kind::Mail;
        } else if (starts("RCPT TO:<")) {
            kind = Kind::Rcpt;
        } else if (line == "DATA") {
            kind = Kind::Data;
            inPayload = true;
        } else if (line == "QUIT") {
            kind = Kind::Quit;
        } else if (previous == Kind::AuthLogin) {
            kind = Kind::User; // base64, never one of the commands above
        } else if (previous == Kind::User) {
            kind = Kind::Pass;
        }
        out.push_back({kind, line});
    }
    return out;
}

// The server's replies in order, as far as they are whole and SMTP, each with where it ends in
// the stream.
struct Reply {
    SmtpReply reply;
    std::size_t end;
};
std::vector<Reply> Replies(std::string_view stream) {
    std::vector<Reply> out;
    SmtpReplyParser parser;
    for (std::size_t i = 0; i < stream.size(); ++i) {
        auto s = parser.Feed(stream.substr(i, 1));
        if (s == SmtpReplyParser::State::Malformed) {
            break;
        }
        if (s == SmtpReplyParser::State::Complete) {
            out.push_back({parser.Take(), i + 1});
        }
    }
    return out;
}

bool Is2xx(const SmtpReply& r) {
    return r.code >= 200 && r.code < 300;
}

// Whether reply lets the client go on after a command of kind.
bool Allows(Kind kind, const SmtpReply& r) {
    switch (kind) {
    case Kind::Greeting:
        return r.code == 220;
    case Kind::Ehlo:
    case Kind::Helo:
        return r.code >= 200 && r.code < 400;
    case Kind::Mail:
    case Kind::Rcpt:
    case Kind::Payload:
        return Is2xx(r);
    case Kind::AuthPlain:
    case Kind::Pass:
        return r.code == 235;
    case Kind::AuthLogin:
    case Kind::User:
        return r.code == 334 || r.code == 235; // a challenge, or logged on already
    case Kind::Data:
        return r.code == 354;
    default:
        return false;
    }
}

bool Offers(const SmtpReply& ehlo, const std::string& mechanism) {
    for (std::string line : ehlo.lines) {
        std::transform(line.begin(), line.end(), line.begin(),
                       [](unsigned char c) { return char(std::toupper(c)); });
        if (line.rfind("AUTH", 0) == 0 && line.find(mechanism) != std::string::npos) {
            return true;
        }
    }
    return false;
}

bool Printable(const std::string& s) {
    return std::all_of(s.begin(), s.end(), [](unsigned char c) { return c >= 0x20 && c < 0x7f; });
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    // Control byte 0: bit 0 authenticate, bit 1 TLS, bits 2-3 one to three recipients, bit 4
    // silence instead of a close at the end. The other control bytes cut the reads.
    const fuzzing::FuzzInput input = fuzzing::SplitControlLine(data, size);
    const unsigned flags = input.control.empty() ? 0 : static_cast<unsigned char>(input.control[0]);
    const std::string_view sizes = input.control.empty() ? input.control : input.control.substr(1);
    const std::size_t recipients = 1 + ((flags >> 2) & 3) % 3;

    SmtpConfig config;
    config.server = "mail.test";
    config.port = "25";
    config.authenticate = (flags & 1) != 0;
    config.useSsl = (flags & 2) != 0;
    config.userName = "ann";
    config.password = "Zq7!pw-Secret";
    NotificationMessage message;
    message.From = "w@x.test";
    message.To =
        std::string("Ann <a@x.test>, b@y.test, c@z.test").substr(0, 14 + 10 * (recipients - 1));
    message.Subject = "S - IP Change Notification";
    message.TextBody = "New WAN IP Detected:  192.0.2.7\n.\n";

    PieceTransport transport(fuzzing::Pieces(input.stream, sizes), (flags & 16) != 0);
    testing_support::DebugCapture log;
    const Failure result = SendSmtpMessage(config, message, transport);
    Check(transport.tls_ == config.useSsl, "TLS from the first byte exactly when asked");

    // Only CRLF lines within the line limit go on the wire.
    const std::string& sent = transport.sent;
    for (std::size_t start = 0; start < sent.size();) {
        const std::size_t crlf = sent.find("\r\n", start);
        Check(crlf != std::string::npos, "what is sent ends in CRLF");
        const std::string_view line = std::string_view(sent).substr(start, crlf - start);
        Check(line.find_first_of("\r\n") == std::string_view::npos, "no lone CR or LF is sent");
        Check(line.size() <= 998, "no line on the wire exceeds 998 octets");
        start = crlf + 2;
    }

    const std::vector<Command> commands = Commands(sent);
    const std::vector<Reply> replies = Replies(input.stream);
    const std::string userLine = Base64Encode(config.userName);
    const std::string passLine = Base64Encode(config.password);
    const std::string plain = Base64Encode(std::string("\0ann\0", 5) + config.password);

    Kind previous = Kind::Greeting;
    SmtpReply ehlo;
    std::size_t rcpts = 0;
    for (std::size_t i = 0; i < commands.size(); ++i) {
        const Command& c = commands[i];
        Check(i < replies.size(), "nothing is sent before the previous reply is whole");
        Check(previous != Kind::Quit, "nothing is sent after QUIT");
        const SmtpReply& before = replies[i].reply;
        if (c.kind == Kind::Quit) {
            previous = c.kind;
            continue;
        }
        if (!Allows(previous, before)) {
            Check(previous == Kind::Ehlo && c.kind == Kind::Helo,
                  "after a refused step nothing is sent but QUIT (or HELO for a refused EHLO)");
        } else {
            bool next = false;
            switch (previous) {
            case Kind::Greeting:
                next = c.kind == Kind::Ehlo;
                break;
            case Kind::Ehlo:
            case Kind::Helo:
                ehlo = previous == Kind::Ehlo ? before : SmtpReply{};
                // A 3xx greeting reply is no refusal, but no clear acceptance either.
                next = (previous == Kind::Ehlo && c.kind == Kind::Helo && !Is2xx(before)) ||
                               config.authenticate
                           ? (c.kind == Kind::AuthPlain && Offers(ehlo, "PLAIN")) ||
                                 (c.kind == Kind::AuthLogin && Offers(ehlo, "LOGIN"))
                           : c.kind == Kind::Mail;
                break;
            case Kind::AuthPlain:
            case Kind::Pass:
                next = c.kind == Kind::Mail;
                break;
            case Kind::AuthLogin:
                next = before.code == 235 ? c.kind == Kind::Mail
                                          : c.kind == Kind::User && c.line == userLine;
                break;
            case Kind::User:
                next = before.code == 235 ? c.kind == Kind::Mail
                                          : c.kind == Kind::Pass && c.line == passLine;
                break;
            case Kind::Mail:
            case Kind::Rcpt:
                next = c.kind == Kind::Rcpt ? ++rcpts <= recipients
                                            : c.kind == Kind::Data && rcpts == recipients;
                break;
            case Kind::Data:
                next = c.kind == Kind::Payload;
                break;
            default:
                break;
            }
            Check(next, "each command follows the one its predecessor's reply allows");
        }
        if (c.kind == Kind::AuthPlain) {
            Check(c.line == "AUTH PLAIN " + plain, "AUTH PLAIN carries the credentials");
        } else if (c.kind != Kind::Pass) {
            Check(c.line.find(passLine) == std::string::npos &&
                      c.line.find(config.password) == std::string::npos,
                  "the password goes only into the AUTH exchange");
        }
        previous = c.kind;
    }

    const auto payload = std::find_if(commands.begin(), commands.end(),
                                      [](const Command& c) { return c.kind == Kind::Payload; });
    const std::size_t at = std::size_t(payload - commands.begin()) + 1;
    const bool accepted =
        payload != commands.end() && at < replies.size() && Is2xx(replies[at].reply);
    Check(!result == accepted, "success exactly when the end of the data got 2xx");

    // The log: whatever the client printed, and the line SendEmail writes for a failure.
    std::vector<std::string> lines = log.Messages();
    if (result) {
        Check(result->number != 0 && !result->description.empty() && Printable(result->description),
              "a failure has a number and a printable description");
        lines.push_back("\t- VB Error: " + std::to_string(result->number) + " " +
                        result->description);
    }
    // A reply to an AUTH step may echo the credentials; no log line repeats it. Only a server
    // that sent the secret elsewhere of its own accord may find it in the log.
    std::string unprompted;
    for (std::size_t i = 0, start = 0; i < replies.size(); start = replies[i++].end) {
        const Kind answered = i == 0                 ? Kind::Greeting
                              : i <= commands.size() ? commands[i - 1].kind
                                                     : Kind::Other;
        if (answered != Kind::AuthPlain && answered != Kind::AuthLogin && answered != Kind::User &&
            answered != Kind::Pass) {
            unprompted += input.stream.substr(start, replies[i].end - start);
        }
    }
    unprompted += input.stream.substr(replies.empty() ? 0 : replies.back().end);
    for (const std::string& secret : {config.password, passLine, plain}) {
        if (unprompted.find(secret) != std::string::npos) {
            continue;
        }
        for (const std::string& line : lines) {
            Check(line.find(secret) == std::string::npos, "the password is never logged");
        }
    }
    return 0;
}
