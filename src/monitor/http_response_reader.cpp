#include "monitor/http_response_reader.h"

#include "common/text.h"

#include <algorithm>
#include <charconv>

namespace http {

namespace {

using platform::DownloadFailure;

using text::EqualsIgnoreCaseAscii;

std::string_view Trimmed(std::string_view s) {
    const auto first = s.find_first_not_of(" \t");
    if (first == std::string_view::npos) {
        return {};
    }
    return s.substr(first, s.find_last_not_of(" \t") - first + 1);
}

bool AllDigits(std::string_view s) {
    return !s.empty() && s.find_first_not_of("0123456789") == std::string_view::npos;
}

// Header lines end in CRLF. A lone CR or LF would split them differently for another reader
// (a header hidden inside another one), so a head with one is not taken.
bool HasLoneLineBreak(std::string_view head) {
    for (std::size_t i = 0; i < head.size(); ++i) {
        if (head[i] == '\r' ? i + 1 == head.size() || head[i + 1] != '\n'
                            : head[i] == '\n' && (i == 0 || head[i - 1] != '\r')) {
            return true;
        }
    }
    return false;
}

// True when chunked is the last transfer coding named.
bool EndsInChunked(std::string_view value) {
    const auto comma = value.rfind(',');
    return EqualsIgnoreCaseAscii(
        Trimmed(comma == std::string_view::npos ? value : value.substr(comma + 1)), "chunked");
}

} // namespace

ResponseReader::ResponseReader(std::size_t maxBodyBytes) : maxBody_(maxBodyBytes) {}

ResponseReader::State ResponseReader::Fail(DownloadFailure failure) {
    failure_ = failure;
    state_ = State::Failed;
    return state_;
}

ResponseReader::State ResponseReader::Finish() {
    phase_ = Phase::Done;
    state_ = State::Complete;
    return state_;
}

ResponseReader::State ResponseReader::Feed(std::string_view bytes) {
    while (state_ == State::NeedMore && !bytes.empty()) {
        switch (phase_) {
        case Phase::Head:
            ReadHead(bytes);
            break;
        case Phase::Sized:
            if (ReadBodyBytes(bytes, left_) && left_ == 0) {
                Finish();
            }
            break;
        case Phase::ChunkSize:
            ReadChunkSize(bytes);
            break;
        case Phase::ChunkData:
            if (ReadBodyBytes(bytes, left_) && left_ == 0) {
                phase_ = Phase::ChunkDataEnd;
            }
            break;
        case Phase::ChunkDataEnd:
            ReadChunkDataEnd(bytes);
            break;
        case Phase::Trailer:
            ReadTrailer(bytes);
            break;
        case Phase::UntilClose: {
            std::uint64_t unbounded = UINT64_MAX;
            ReadBodyBytes(bytes, unbounded);
            break;
        }
        case Phase::Done:
            return state_;
        }
    }
    return state_;
}

ResponseReader::State ResponseReader::PeerClosed() {
    if (state_ != State::NeedMore) {
        return state_;
    }
    // A close after the last chunk but before the end of its trailer loses nothing.
    if (phase_ == Phase::UntilClose || phase_ == Phase::Trailer) {
        return Finish();
    }
    return Fail(DownloadFailure::Truncated);
}

bool ResponseReader::ReadHead(std::string_view& bytes) {
    const std::size_t searchFrom = head_.size() < 3 ? 0 : head_.size() - 3;
    const std::size_t room = kMaxHeadBytes + 4 - head_.size();
    const std::size_t before = head_.size();
    head_.append(bytes.substr(0, room));
    const auto end = head_.find("\r\n\r\n", searchFrom);
    if (end == std::string::npos) {
        if (bytes.size() >= room) {
            Fail(DownloadFailure::TooLarge);
        }
        bytes = {};
        return false;
    }
    bytes.remove_prefix(end + 4 - before);
    head_.resize(end);
    return ParseHead();
}

bool ResponseReader::ParseHead() {
    std::string_view head(head_);
    if (HasLoneLineBreak(head)) {
        Fail(DownloadFailure::Malformed);
        return false;
    }
    const auto lineEnd = std::min(head.find("\r\n"), head.size());
    const std::string_view statusLine = head.substr(0, lineEnd);
    if (statusLine.size() < 12 || !EqualsIgnoreCaseAscii(statusLine.substr(0, 7), "HTTP/1.") ||
        statusLine[8] != ' ' || !AllDigits(statusLine.substr(9, 3))) {
        Fail(DownloadFailure::Malformed);
        return false;
    }
    status_ = (statusLine[9] - '0') * 100 + (statusLine[10] - '0') * 10 + (statusLine[11] - '0');
    if (status_ < 100 || status_ == 101) {
        Fail(DownloadFailure::Malformed);
        return false;
    }
    if (status_ < 200) {
        // An interim answer: the real one follows on the same connection. All of them
        // together stay within the head's bound.
        interimBytes_ += head_.size() + 4;
        if (interimBytes_ > kMaxHeadBytes) {
            Fail(DownloadFailure::TooLarge);
            return false;
        }
        head_.clear();
        status_ = 0;
        return true;
    }
    head.remove_prefix(std::min(lineEnd + 2, head.size()));
    bool chunked = false;
    std::string contentLength;
    while (!head.empty()) {
        const auto eol = std::min(head.find("\r\n"), head.size());
        const std::string_view line = head.substr(0, eol);
        head.remove_prefix(std::min(eol + 2, head.size()));
        const auto colon = line.find(':');
        if (colon == std::string_view::npos) {
            continue;
        }
        const std::string_view name = line.substr(0, colon);
        const std::string_view value = Trimmed(line.substr(colon + 1));
        if (EqualsIgnoreCaseAscii(name, "Location")) {
            location_ = std::string(value);
        } else if (EqualsIgnoreCaseAscii(name, "Content-Length")) {
            if (!AllDigits(value) || value.size() > 18 ||
                (!contentLength.empty() && contentLength != value)) {
                Fail(DownloadFailure::Malformed);
                return false;
            }
            contentLength = std::string(value);
        } else if (EqualsIgnoreCaseAscii(name, "Transfer-Encoding")) {
            chunked = EndsInChunked(value);
        }
    }
    head_.clear();
    if (status_ == 204 || status_ == 304) {
        Finish();
    } else if (chunked) {
        phase_ = Phase::ChunkSize;
    } else if (!contentLength.empty()) {
        std::from_chars(contentLength.data(), contentLength.data() + contentLength.size(), left_);
        if (left_ > maxBody_) {
            Fail(DownloadFailure::TooLarge);
            return false;
        }
        phase_ = Phase::Sized;
        if (left_ == 0) {
            Finish();
        }
    } else {
        phase_ = Phase::UntilClose;
    }
    return true;
}

bool ResponseReader::ReadBodyBytes(std::string_view& bytes, std::uint64_t& left) {
    const std::size_t n = static_cast<std::size_t>(std::min<std::uint64_t>(left, bytes.size()));
    if (n > maxBody_ - body_.size()) {
        Fail(DownloadFailure::TooLarge);
        return false;
    }
    body_.append(bytes.substr(0, n));
    bytes.remove_prefix(n);
    left -= n;
    return true;
}

bool ResponseReader::ReadLine(std::string_view& bytes, std::string& line) {
    const auto lf = bytes.find('\n');
    const std::string_view part = bytes.substr(0, lf);
    if (part.size() > kMaxHeadBytes - std::min(line.size(), kMaxHeadBytes)) {
        Fail(DownloadFailure::TooLarge);
        return false;
    }
    line.append(part);
    if (lf == std::string_view::npos) {
        bytes = {};
        return false;
    }
    bytes.remove_prefix(lf + 1);
    if (!line.empty() && line.back() == '\r') {
        line.pop_back();
    }
    return true;
}

bool ResponseReader::ReadChunkSize(std::string_view& bytes) {
    if (!ReadLine(bytes, head_)) {
        return false;
    }
    const std::string_view line(head_);
    const auto digits = std::min(line.find_first_not_of("0123456789abcdefABCDEF"), line.size());
    const std::string_view rest = Trimmed(line.substr(digits));
    if (digits == 0 || digits > 15 || (!rest.empty() && rest.front() != ';')) {
        Fail(DownloadFailure::Malformed);
        return false;
    }
    std::from_chars(line.data(), line.data() + digits, left_, 16);
    head_.clear();
    if (left_ == 0) {
        phase_ = Phase::Trailer;
    } else if (left_ > maxBody_ - body_.size()) {
        Fail(DownloadFailure::TooLarge);
        return false;
    } else {
        phase_ = Phase::ChunkData;
    }
    return true;
}

bool ResponseReader::ReadChunkDataEnd(std::string_view& bytes) {
    if (!ReadLine(bytes, head_)) {
        return false;
    }
    if (!head_.empty()) {
        Fail(DownloadFailure::Malformed);
        return false;
    }
    phase_ = Phase::ChunkSize;
    return true;
}

bool ResponseReader::ReadTrailer(std::string_view& bytes) {
    const std::size_t before = bytes.size();
    const bool line = ReadLine(bytes, head_);
    trailerBytes_ += before - bytes.size();
    if (trailerBytes_ > kMaxHeadBytes) {
        Fail(DownloadFailure::TooLarge);
        return false;
    }
    if (!line) {
        return false;
    }
    if (head_.empty()) {
        Finish();
    }
    head_.clear();
    return true;
}

} // namespace http
