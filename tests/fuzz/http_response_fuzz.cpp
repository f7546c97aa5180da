// Any answer of an IP-check page, cut into reads anywhere, against a fuzzer-chosen body bound
// (or the product's 64 KiB): the body handed on never passes the bound; once
// the reader has decided it never changes its mind; where the reads are cut changes nothing;
// an answer framed by Content-Length is complete with exactly that many bytes (and a chunked
// one with exactly its chunks) or fails as too large or cut short; and a redirect's Location
// is followed only to http or https.
#include "fuzz_input.h"
#include "invariant.h"
#include "monitor/http_response_reader.h"
#include "monitor/http_url.h"
#include "redirect_check.h"

#include <algorithm>
#include <cctype>
#include <optional>
#include <string>
#include <vector>

using http::ResponseReader;
using platform::DownloadFailure;
using State = ResponseReader::State;

using fuzzing::Check;

namespace {

constexpr std::size_t kProductBound = 64 * 1024;

struct Outcome {
    State beforeClose = State::NeedMore;
    State afterClose = State::NeedMore;
    DownloadFailure failure = DownloadFailure::None;
    bool headDone = false;
    int status = 0;
    std::string location;
    std::string body;
    bool operator==(const Outcome&) const = default;
};

Outcome Read(const std::vector<std::string_view>& pieces, std::size_t bound) {
    ResponseReader reader(bound);
    std::optional<Outcome> decided;
    auto snapshot = [&] {
        return Outcome{reader.Current(), reader.Current(),  reader.Failure(), reader.HeadDone(),
                       reader.Status(),  reader.Location(), reader.Body()};
    };
    for (std::string_view piece : pieces) {
        reader.Feed(piece);
        Check(reader.Body().size() <= bound, "the body never passes its bound");
        if (decided) {
            Check(snapshot() == *decided, "a decided answer stays as it is");
        } else if (reader.Current() != State::NeedMore) {
            decided = snapshot();
        }
    }
    Outcome out = snapshot();
    out.afterClose = reader.PeerClosed();
    out.failure = reader.Failure();
    Check(reader.Body().size() <= bound, "the body never passes its bound");
    return out;
}

bool EqualNoCase(std::string_view a, std::string_view b) {
    return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) {
               return std::tolower(static_cast<unsigned char>(x)) ==
                      std::tolower(static_cast<unsigned char>(y));
           });
}

std::string_view Trim(std::string_view s) {
    while (!s.empty() && (s.front() == ' ' || s.front() == '\t')) {
        s.remove_prefix(1);
    }
    while (!s.empty() && (s.back() == ' ' || s.back() == '\t')) {
        s.remove_suffix(1);
    }
    return s;
}

// A plain final answer read without the reader: status line, headers of CRLF lines, and the
// values that decide its framing. Nothing when the head is anything less simple.
struct SimpleHead {
    int status = 0;
    std::size_t bodyStart = 0;
    int contentLengths = 0;
    std::string contentLength;
    int transferEncodings = 0;
    std::string transferEncoding;
    std::optional<std::string> location;
};

std::optional<SimpleHead> ReadSimpleHead(std::string_view stream) {
    const std::size_t end = stream.find("\r\n\r\n");
    if (end == std::string_view::npos || end > ResponseReader::kMaxHeadBytes ||
        stream.substr(0, 9) != "HTTP/1.1 " || stream.size() < 12) {
        return std::nullopt;
    }
    SimpleHead head;
    for (int i = 9; i < 12; ++i) {
        if (!std::isdigit(static_cast<unsigned char>(stream[i]))) {
            return std::nullopt;
        }
        head.status = head.status * 10 + (stream[i] - '0');
    }
    if (head.status < 200) {
        return std::nullopt;
    }
    head.bodyStart = end + 4;
    std::string_view rest = stream.substr(0, end + 2);
    const std::size_t statusEnd = rest.find("\r\n");
    if (rest.substr(0, statusEnd).find_first_of("\r\n") != std::string_view::npos) {
        return std::nullopt;
    }
    rest.remove_prefix(statusEnd + 2);
    while (!rest.empty()) {
        const std::size_t eol = rest.find("\r\n");
        const std::string_view line = rest.substr(0, eol);
        rest.remove_prefix(eol + 2);
        if (line.find_first_of("\r\n") != std::string_view::npos) {
            return std::nullopt;
        }
        const std::size_t colon = line.find(':');
        if (colon == std::string_view::npos) {
            continue;
        }
        const std::string_view name = line.substr(0, colon);
        const std::string value(Trim(line.substr(colon + 1)));
        if (EqualNoCase(name, "Content-Length")) {
            ++head.contentLengths;
            head.contentLength = value;
        } else if (EqualNoCase(name, "Transfer-Encoding")) {
            ++head.transferEncodings;
            head.transferEncoding = value;
        } else if (EqualNoCase(name, "Location")) {
            head.location = value;
        }
    }
    return head;
}

// A strict chunked body: hex sizes without extensions, CRLF everywhere, no trailer. The decoded
// bytes, or nothing when the chunks are not that simple; too large once the sizes pass bound.
struct Chunked {
    bool whole = false;
    bool tooLarge = false;
    std::string body;
};

Chunked DecodeStrictChunks(std::string_view s, std::size_t bound) {
    Chunked out;
    std::size_t total = 0;
    for (;;) {
        const std::size_t eol = s.find("\r\n");
        if (eol == std::string_view::npos || eol == 0 || eol > 8 ||
            s.substr(0, eol).find_first_not_of("0123456789abcdefABCDEF") !=
                std::string_view::npos) {
            return out;
        }
        const std::size_t size = std::stoul(std::string(s.substr(0, eol)), nullptr, 16);
        s.remove_prefix(eol + 2);
        if (size > bound - total) {
            out.tooLarge = true;
            return out;
        }
        if (size == 0) {
            out.whole = s.substr(0, 2) == "\r\n";
            return out;
        }
        if (s.size() < size + 2 || s.substr(size, 2) != "\r\n") {
            return out;
        }
        out.body.append(s.substr(0, size));
        total += size;
        s.remove_prefix(size + 2);
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    // Control byte 0 below 128 chooses a small body bound (4 bytes per step); the other
    // control bytes cut the reads.
    const fuzzing::FuzzInput input = fuzzing::SplitControlLine(data, size);
    const unsigned choice =
        input.control.empty() ? 255 : static_cast<unsigned char>(input.control[0]);
    const std::size_t bound = choice < 128 ? choice * 4u : kProductBound;
    const std::string_view sizes = input.control.empty() ? input.control : input.control.substr(1);
    const std::string_view stream = input.stream;

    Outcome cut = Read(fuzzing::Pieces(stream, sizes), bound);
    Outcome whole = Read({stream}, bound);
    if (cut.failure == DownloadFailure::TooLarge) {
        whole.body = cut.body = {}; // how much a refused body held before the refusal varies
    }
    Check(cut == whole, "where the reads are cut changes nothing");

    Check((cut.afterClose == State::Failed) == (cut.failure != DownloadFailure::None),
          "a failure is named exactly when the reader failed");
    Check(cut.beforeClose != State::Failed || cut.failure != DownloadFailure::Truncated,
          "only a close cuts an answer short");
    Check(cut.afterClose != State::NeedMore, "a close decides the answer");
    if (cut.afterClose == State::Complete) {
        Check(cut.headDone && cut.status >= 200 && cut.status <= 999,
              "a complete answer has a final status");
    }
    Check(cut.location.find_first_of("\r\n") == std::string::npos, "Location is one line");

    if (const auto head = ReadSimpleHead(stream)) {
        const bool noBody = head->status == 204 || head->status == 304;
        if (!noBody && head->transferEncodings == 0 && head->contentLengths == 1 &&
            !head->contentLength.empty() && head->contentLength.size() <= 18 &&
            head->contentLength.find_first_not_of("0123456789") == std::string::npos) {
            const std::size_t length = std::stoull(head->contentLength);
            const std::string_view body = stream.substr(head->bodyStart);
            if (length > bound) {
                Check(cut.failure == DownloadFailure::TooLarge,
                      "a declared length past the bound fails");
            } else if (body.size() >= length) {
                Check(cut.beforeClose == State::Complete && cut.body == body.substr(0, length),
                      "a sized answer is complete with exactly its length");
            } else {
                Check(cut.beforeClose == State::NeedMore &&
                          cut.failure == DownloadFailure::Truncated && cut.body == body,
                      "a sized answer cut short waits, then fails as cut short");
            }
        }
        if (!noBody && head->transferEncodings == 1 && head->contentLengths == 0 &&
            EqualNoCase(head->transferEncoding, "chunked")) {
            const Chunked chunks = DecodeStrictChunks(stream.substr(head->bodyStart), bound);
            if (chunks.tooLarge) {
                Check(cut.failure == DownloadFailure::TooLarge, "chunks past the bound fail");
            } else if (chunks.whole) {
                Check(cut.beforeClose == State::Complete && cut.body == chunks.body,
                      "a chunked answer is complete with exactly its chunks");
            }
        }
        if (cut.headDone && head->location) {
            Check(cut.location == *head->location, "Location is the header's value");
        }
    }

    // The redirect target: followed only to http or https, never past the fifth.
    if (cut.headDone && http::IsRedirectStatus(cut.status)) {
        fuzzing::CheckRedirects(
            "http://www.example.com/IPCheck.php",
            std::vector<std::string_view>(http::kMaxRedirects + 1, cut.location));
    }
    return 0;
}
