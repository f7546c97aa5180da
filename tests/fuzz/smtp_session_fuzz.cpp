// One delivery against a server that answers anything, cut into reads anywhere, in plain text,
// with TLS from the first byte or with STARTTLS. Whatever it answers:
// - the client only moves on after the reply that allows it (220 greeting, 2xx or 3xx EHLO or
//   HELO, 220 to STARTTLS, 235 after AUTH, 334 or 235 inside AUTH LOGIN, 2xx MAIL and RCPT, 354
//   DATA); after any other reply it sends nothing more but QUIT;
// - it never writes before the previous reply is whole;
// - with STARTTLS nothing but EHLO, STARTTLS and QUIT goes out before the handshake, the
//   handshake starts only when no byte arrived after the server's 220, nothing follows a failed
//   one, and inside TLS the client greets again and uses only the capabilities offered there;
// - it reports success exactly when the end of the data got 2xx (and, with STARTTLS, in TLS);
// - its error texts are printable and, when it authenticates, never carry the password or its
//   encodings, whatever the server echoes; and only well-formed CRLF lines go on the wire;
// - with an access token (XOAUTH2, a token as long as real ones) no AUTH line passes 512 octets:
//   the response follows the server's 334, a further 334 (the error challenge) gets an empty
//   line, and neither the token nor its encoding reaches the log.
#include "fuzz_input.h"
#include "invariant.h"
#include "mail/smtp_client.h"
#include "support/debug_capture.h"
#include "support/scripted_smtp_transport.h"

#include <algorithm>
#include <set>
#include <string>
#include <vector>

using namespace modSendEmail;

using fuzzing::Check;

namespace {

constexpr std::size_t kClientReadSize = 4096; // what the client asks of one Read

enum class Kind {
    Greeting,
    Ehlo,
    Helo,
    StartTls,
    Handshake,
    AuthPlain,
    AuthLogin,
    AuthXOAuth2,     // with the response on the line
    AuthXOAuth2Bare, // the response to follow the 334
    TokenResponse,
    ChallengeAnswer, // the empty line after the error challenge
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

// The client's lines in order, the DATA payload as one entry, the TLS hand-over as another.
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
        } else if (line == "STARTTLS") {
            kind = Kind::StartTls;
        } else if (starts("[TLS ")) {
            kind = Kind::Handshake;
        } else if (starts("AUTH PLAIN ")) {
            kind = Kind::AuthPlain;
        } else if (line == "AUTH LOGIN") {
            kind = Kind::AuthLogin;
        } else if (starts("AUTH XOAUTH2 ")) {
            kind = Kind::AuthXOAuth2;
        } else if (line == "AUTH XOAUTH2") {
            kind = Kind::AuthXOAuth2Bare;
        } else if (starts("MAIL FROM:<")) {
            kind = Kind::Mail;
        } else if (starts("RCPT TO:<")) {
            kind = Kind::Rcpt;
        } else if (line == "DATA") {
            kind = Kind::Data;
            inPayload = true;
        } else if (line == "QUIT") {
            kind = Kind::Quit;
        } else if (previous == Kind::AuthXOAuth2Bare) {
            kind = Kind::TokenResponse;
        } else if (line.empty() &&
                   (previous == Kind::AuthXOAuth2 || previous == Kind::TokenResponse)) {
            kind = Kind::ChallengeAnswer;
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
        if (s == SmtpReplyParser::State::Malformed || s == SmtpReplyParser::State::TooLong) {
            break;
        }
        if (s == SmtpReplyParser::State::Complete) {
            out.push_back({parser.Take(), i + 1});
        }
    }
    return out;
}

// Where the client's reads of the script can end.
std::set<std::size_t> ReadEnds(const std::deque<std::string>& script) {
    std::set<std::size_t> ends{0};
    std::size_t at = 0;
    for (const std::string& piece : script) {
        for (std::size_t done = 0; done < piece.size();) {
            const std::size_t n = std::min(kClientReadSize, piece.size() - done);
            done += n;
            ends.insert(at + done);
        }
        at += piece.size();
    }
    return ends;
}

bool Is2xx(const SmtpReply& r) {
    return r.code >= 200 && r.code < 300;
}

// Whether reply lets the client go on after a command of kind.
bool Allows(Kind kind, const SmtpReply& r) {
    switch (kind) {
    case Kind::Greeting:
    case Kind::StartTls:
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
    case Kind::ChallengeAnswer:
        return r.code == 235;
    case Kind::AuthXOAuth2:
    case Kind::TokenResponse:
    case Kind::AuthXOAuth2Bare:
        return r.code == 235 || r.code == 334;
    case Kind::AuthLogin:
    case Kind::User:
        return r.code == 334 || r.code == 235; // a challenge, or logged on already
    case Kind::Data:
        return r.code == 354;
    default:
        return false;
    }
}

std::string Upper(std::string s) {
    std::transform(s.begin(), s.end(), s.begin(),
                   [](unsigned char c) { return char(std::toupper(c)); });
    return s;
}

bool OffersAuth(const SmtpReply& ehlo, const std::string& mechanism) {
    return std::any_of(ehlo.lines.begin(), ehlo.lines.end(), [&](const std::string& line) {
        const std::string upper = Upper(line);
        return upper.rfind("AUTH", 0) == 0 && upper.find(mechanism) != std::string::npos;
    });
}

bool OffersStartTls(const SmtpReply& ehlo) {
    for (std::size_t i = 1; i < ehlo.lines.size(); ++i) {
        if (Upper(ehlo.lines[i]).rfind("STARTTLS", 0) == 0) {
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
    // Control byte 0: bit 0 authenticate, bit 1 TLS from the first byte, bits 2-3 one to three
    // recipients, bit 4 silence instead of a close at the end, bit 5 STARTTLS, bit 6 clear
    // XOAUTH2 (a long token, or a short one with bit 3; the printable seeds have bit 6 set and
    // log on with the password), bit 7 a failing handshake. The other control bytes cut the
    // reads.
    const fuzzing::FuzzInput input = fuzzing::SplitControlLine(data, size);
    const unsigned flags = input.control.empty() ? 0 : static_cast<unsigned char>(input.control[0]);
    const std::string_view sizes = input.control.empty() ? input.control : input.control.substr(1);
    const std::size_t recipients = 1 + ((flags >> 2) & 3) % 3;

    SmtpConfig config;
    config.server = "mail.test";
    config.port = "25";
    config.authenticate = (flags & 1) != 0;
    config.security = (flags & 32) != 0  ? ConnectionSecurity::StartTls
                      : (flags & 2) != 0 ? ConnectionSecurity::ImplicitTls
                                         : ConnectionSecurity::Plain;
    config.userName = "ann";
    config.password = "Zq7!pw-Secret";
    const bool xoauth2 = config.authenticate && (flags & 64) == 0;
    if (xoauth2) {
        config.logon = SmtpLogon::XOAuth2;
        config.password.clear();
        config.accessToken = (flags & 8) != 0 ? "ya29.Short-token_7"
                                              : "eyJ0eXAi." + std::string(1900, 'Q') + ".Zx-_9";
    }
    NotificationMessage message;
    message.From = "w@x.test";
    message.To =
        std::string("Ann <a@x.test>, b@y.test, c@z.test").substr(0, 14 + 10 * (recipients - 1));
    message.Subject = "S - IP Change Notification";
    message.TextBody = "New WAN IP Detected:  192.0.2.7\n.\n";

    std::deque<std::string> script;
    for (std::string_view piece : fuzzing::Pieces(input.stream, sizes)) {
        if (piece == "TIMEOUT") {
            return 0; // the script's own marker
        }
        if (!piece.empty()) {
            script.emplace_back(piece);
        }
    }
    const std::set<std::size_t> readEnds = ReadEnds(script);
    if ((flags & 16) != 0) {
        script.emplace_back("TIMEOUT");
    }
    testing_support::ScriptedTransport transport(script);
    if ((flags & 128) != 0) {
        transport.handshake = VbError{smtp_errors::kSecureChannelFailed, "handshake failed"};
    }
    testing_support::DebugCapture log;
    const Failure result = SendSmtpMessage(config, message, transport);
    Check(transport.connected ==
              "mail.test:25" +
                  std::string(config.security == ConnectionSecurity::ImplicitTls ? " tls" : ""),
          "TLS from the first byte exactly when asked");

    // Only CRLF lines within the line limit go on the wire.
    const std::string& sent = transport.sent;
    for (std::size_t start = 0; start < sent.size();) {
        const std::size_t crlf = sent.find("\r\n", start);
        Check(crlf != std::string::npos, "what is sent ends in CRLF");
        const std::string_view line = std::string_view(sent).substr(start, crlf - start);
        Check(line.find_first_of("\r\n") == std::string_view::npos, "no lone CR or LF is sent");
        // A SASL response has no line limit of its own; every command keeps SMTP's.
        Check(line.size() <= 998 || (xoauth2 && line.find(' ') == std::string_view::npos),
              "no line on the wire exceeds 998 octets");
        Check(line.rfind("AUTH ", 0) != 0 || line.size() + 2 <= 512,
              "no AUTH line exceeds 512 octets");
        start = crlf + 2;
    }

    const std::vector<Command> commands = Commands(sent);
    const std::vector<Reply> replies = Replies(input.stream);
    const std::string userLine = Base64Encode(config.userName);
    const std::string passLine = Base64Encode(config.password);
    const std::string plain = Base64Encode(std::string("\0ann\0", 5) + config.password);
    const std::string bearer =
        Base64Encode("user=ann\x01" + ("auth=Bearer " + config.accessToken) + "\x01\x01");
    const bool mustSecure = config.security == ConnectionSecurity::StartTls;

    Kind previous = Kind::Greeting;
    SmtpReply before, ehlo;
    std::size_t nextReply = 0, rcpts = 0;
    bool secured = false;
    for (const Command& c : commands) {
        Check(previous != Kind::Quit, "nothing is sent after QUIT");
        Check(!(previous == Kind::Handshake && transport.handshake),
              "nothing is sent after a failed handshake");
        Check(!mustSecure || secured || c.kind == Kind::Ehlo || c.kind == Kind::StartTls ||
                  c.kind == Kind::Handshake || c.kind == Kind::Quit,
              "before TLS only EHLO, STARTTLS and QUIT go out in plain text");
        if (previous == Kind::Handshake) {
            Check(c.kind == Kind::Ehlo, "inside TLS the client greets again first");
            previous = c.kind;
            continue;
        }
        Check(nextReply < replies.size(), "nothing is sent before the previous reply is whole");
        const Reply& answer = replies[nextReply++];
        before = answer.reply;
        if (c.kind == Kind::Quit) {
            previous = c.kind;
            continue;
        }
        if (!Allows(previous, before)) {
            Check(previous == Kind::Ehlo && c.kind == Kind::Helo && (!mustSecure || secured),
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
                if (mustSecure && !secured) {
                    next = c.kind == Kind::StartTls && previous == Kind::Ehlo && Is2xx(before) &&
                           OffersStartTls(before);
                } else if (c.kind == Kind::Helo) {
                    // A 3xx reply to EHLO is no refusal, but no clear acceptance either.
                    next = previous == Kind::Ehlo && !Is2xx(before);
                } else if (xoauth2) {
                    next = (c.kind == Kind::AuthXOAuth2 || c.kind == Kind::AuthXOAuth2Bare) &&
                           OffersAuth(ehlo, "XOAUTH2");
                } else if (config.authenticate) {
                    next = (c.kind == Kind::AuthPlain && OffersAuth(ehlo, "PLAIN")) ||
                           (c.kind == Kind::AuthLogin && OffersAuth(ehlo, "LOGIN"));
                } else {
                    next = c.kind == Kind::Mail;
                }
                break;
            case Kind::StartTls:
                next = c.kind == Kind::Handshake;
                Check(readEnds.count(answer.end) == 1,
                      "the handshake starts only when nothing arrived after the 220");
                secured = true;
                break;
            case Kind::AuthPlain:
            case Kind::Pass:
            case Kind::ChallengeAnswer:
                next = c.kind == Kind::Mail;
                break;
            case Kind::AuthXOAuth2Bare:
                next = before.code == 235 ? c.kind == Kind::Mail
                                          : c.kind == Kind::TokenResponse && c.line == bearer;
                break;
            case Kind::AuthXOAuth2:
            case Kind::TokenResponse:
                next = c.kind == (before.code == 235 ? Kind::Mail : Kind::ChallengeAnswer);
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
        } else if (c.kind == Kind::AuthXOAuth2) {
            Check(c.line == "AUTH XOAUTH2 " + bearer, "AUTH XOAUTH2 carries the token");
        } else if (xoauth2) {
            Check(c.kind == Kind::TokenResponse ||
                      (c.line.find(bearer.substr(0, 40)) == std::string::npos &&
                       c.line.find(config.accessToken) == std::string::npos),
                  "the token goes only into the AUTH exchange");
        } else if (c.kind != Kind::Pass) {
            Check(c.line.find(passLine) == std::string::npos &&
                      c.line.find(config.password) == std::string::npos,
                  "the password goes only into the AUTH exchange");
        }
        previous = c.kind;
    }

    // Accepted: the payload went out (in TLS when STARTTLS was asked for) and got 2xx.
    const auto payload = std::find_if(commands.begin(), commands.end(),
                                      [](const Command& c) { return c.kind == Kind::Payload; });
    std::size_t answerOfPayload = 1; // the greeting comes first; the hand-over has no reply
    for (auto c = commands.begin(); c != payload && c != commands.end(); ++c) {
        answerOfPayload += c->kind == Kind::Handshake ? 0 : 1;
    }
    const bool accepted = payload != commands.end() && answerOfPayload < replies.size() &&
                          Is2xx(replies[answerOfPayload].reply) && (!mustSecure || secured);
    Check(!result == accepted, "success exactly when the end of the data got 2xx");

    // The log: whatever the client printed, and the line SendEmail writes for a failure.
    std::vector<std::string> lines = log.Messages();
    if (result) {
        Check(result->number != 0 && !result->description.empty() && Printable(result->description),
              "a failure has a number and a printable description");
        lines.push_back("\t- VB Error: " + std::to_string(result->number) + " " +
                        result->description);
    }
    // Once the client authenticates, no server echo brings the credentials into the log.
    if (xoauth2) {
        for (const std::string& secret : {config.accessToken, bearer}) {
            for (const std::string& line : lines) {
                Check(line.find(secret) == std::string::npos, "the token is never logged");
            }
        }
    } else if (config.authenticate) {
        for (const std::string& secret : {config.password, passLine, plain}) {
            for (const std::string& line : lines) {
                Check(line.find(secret) == std::string::npos, "the password is never logged");
            }
        }
    }
    return 0;
}
