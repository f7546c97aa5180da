// Any server output, cut into reads anywhere: every reply the parser completes is an SMTP reply
// (three digits, first digit 2 to 5, the same code on every line) whose lines give back exactly
// the bytes it consumed; the bytes not yet taken are kept; it stops only at a line that really is
// not SMTP, past its line count, or at a reply past its byte bound; and where the reads are cut
// never changes what it reports.
#include "fuzz_input.h"
#include "invariant.h"
#include "mail/smtp_client.h"

#include <cstdio>
#include <string>
#include <vector>

using modSendEmail::SmtpReply;
using modSendEmail::SmtpReplyParser;
using State = SmtpReplyParser::State;

using fuzzing::Check;

namespace {

constexpr std::size_t kMaxReplyBytes = 64 * 1024;
constexpr std::size_t kMaxLines = 1000;

struct Run {
    std::vector<SmtpReply> replies;
    State end = State::NeedMore;
    SmtpReply partial;   // the lines of an unfinished reply
    std::string pending; // what the parser holds beyond them
    std::size_t fed = 0; // bytes handed to the parser
};

Run Parse(const std::vector<std::string_view>& pieces) {
    SmtpReplyParser parser;
    Run run;
    for (std::string_view piece : pieces) {
        run.fed += piece.size();
        run.end = parser.Feed(piece);
        while (run.end == State::Complete) {
            run.replies.push_back(parser.Take());
            run.end = parser.Feed({});
        }
        if (run.end == State::Malformed || run.end == State::TooLong) {
            break;
        }
        Check(parser.Pending().find('\n') == std::string_view::npos,
              "a whole line waits while the parser asks for more");
    }
    run.pending = std::string(parser.Pending());
    run.partial = parser.Take();
    return run;
}

bool IsDigit(char c) {
    return c >= '0' && c <= '9';
}

// Consumes one wire line of reply r from stream at pos, if it is there in any of its spellings.
bool ConsumeLine(std::string_view stream, std::size_t& pos, int code, const std::string& text,
                 bool last) {
    char digits[8];
    std::snprintf(digits, sizeof digits, "%03d", code);
    std::vector<std::string> heads;
    if (!last) {
        heads.push_back(std::string(digits) + "-");
    } else {
        heads.push_back(std::string(digits) + " ");
        if (text.empty()) {
            heads.push_back(digits);
        }
    }
    for (const std::string& head : heads) {
        for (const char* end : {"\r\n", "\n"}) {
            const std::string line = head + text + end;
            if (stream.substr(pos, line.size()) == line) {
                pos += line.size();
                return true;
            }
        }
    }
    return false;
}

void CheckReply(const SmtpReply& r) {
    Check(r.code >= 200 && r.code <= 599, "a complete reply's code is 2xx to 5xx");
    Check(!r.lines.empty() && r.lines.size() <= kMaxLines, "a reply has 1 to 1000 lines");
    for (const std::string& line : r.lines) {
        Check(line.find('\n') == std::string::npos, "a reply line holds no line feed");
    }
}

// Why the parser may refuse a reply: the next line is not a reply line of the reply under way,
// or the reply grew past its line bound.
bool MalformedForAReason(const Run& run) {
    if (run.partial.lines.size() > kMaxLines) {
        return true;
    }
    const std::size_t lf = run.pending.find('\n');
    if (lf == std::string::npos) {
        return false;
    }
    std::string line = run.pending.substr(0, lf);
    if (!line.empty() && line.back() == '\r') {
        line.pop_back();
    }
    if (line.size() < 3 || !IsDigit(line[0]) || !IsDigit(line[1]) || !IsDigit(line[2]) ||
        line[0] < '2' || line[0] > '5' || (line.size() > 3 && line[3] != ' ' && line[3] != '-')) {
        return true;
    }
    return !run.partial.lines.empty() && std::stoi(line.substr(0, 3)) != run.partial.code;
}

// Too long: the unfinished reply's lines and the next line (whole, or as far as it came) exceed
// the bound, and not before.
bool TooLongForAReason(const Run& run, std::size_t partialBytes) {
    const std::size_t lf = run.pending.find('\n');
    return partialBytes + (lf == std::string::npos ? run.pending.size() : lf + 1) > kMaxReplyBytes;
}

bool SameReplies(const std::vector<SmtpReply>& a, const std::vector<SmtpReply>& b) {
    if (a.size() != b.size()) {
        return false;
    }
    for (std::size_t i = 0; i < a.size(); ++i) {
        if (a[i].code != b[i].code || a[i].lines != b[i].lines) {
            return false;
        }
    }
    return true;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const fuzzing::FuzzInput input = fuzzing::SplitControlLine(data, size);
    const Run run = Parse(fuzzing::Pieces(input.stream, input.control));

    // Bytes are conserved: the replies' lines, the unfinished reply's and the rest held are
    // exactly what was fed.
    std::size_t pos = 0;
    for (const SmtpReply& r : run.replies) {
        CheckReply(r);
        const std::size_t start = pos;
        for (std::size_t i = 0; i < r.lines.size(); ++i) {
            Check(ConsumeLine(input.stream, pos, r.code, r.lines[i], i + 1 == r.lines.size()),
                  "a reply's lines are the bytes it consumed");
        }
        Check(pos - start <= kMaxReplyBytes, "a complete reply is within the bound");
    }
    const std::size_t partialStart = pos;
    for (const std::string& line : run.partial.lines) {
        Check(ConsumeLine(input.stream, pos, run.partial.code, line, false),
              "an unfinished reply's lines are the bytes it consumed");
    }
    const std::size_t partialBytes = pos - partialStart;
    Check(pos <= run.fed && input.stream.substr(pos, run.fed - pos) == run.pending,
          "the bytes not yet taken are kept");
    if (run.end == State::Malformed) {
        Check(MalformedForAReason(run), "the parser refuses only what is not SMTP");
    }
    if (run.end == State::TooLong) {
        Check(TooLongForAReason(run, partialBytes), "the parser stops only past the bound");
    } else if (run.end == State::NeedMore) {
        Check(!TooLongForAReason(run, partialBytes), "the parser stops at a reply past its bound");
    }

    // Cut differently (all in one read), the same replies and the same end: the bound is on
    // the reply's bytes, wherever the reads end.
    const Run whole = Parse({input.stream});
    Check(SameReplies(run.replies, whole.replies) && run.end == whole.end &&
              run.partial.lines == whole.partial.lines,
          "where the reads are cut changes nothing");
    Check(run.end == State::Malformed || run.end == State::TooLong
              ? whole.pending.rfind(run.pending, 0) == 0
              : whole.pending == run.pending,
          "where the reads are cut leaves the same bytes held");
    return 0;
}
