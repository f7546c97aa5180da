// An incremental reader of one HTTP/1.1 response, free of sockets and I/O so that it can be
// fed from anywhere (the POSIX client, the tests, a fuzzer).
//
// Contract:
// - Feed() takes the bytes as they arrive, in chunks of any size (empty chunks too), and
//   returns NeedMore, Complete or Failed. Once Complete or Failed, the state stays and further
//   bytes are ignored; bytes past the end of the framed message are never looked at.
// - PeerClosed() says the connection ended: a body framed by the connection's end is then
//   Complete; one framed by Content-Length or chunks that has not ended yet is Truncated.
// - The head (status line and headers) may take at most 16 KiB, the body at most the given
//   bound (TooLarge otherwise; a declared length past the bound fails at once). Interim 1xx
//   answers are skipped; 101 is Malformed. 204 and 304 carry no body. Transfer-Encoding
//   chunked wins over Content-Length; differing Content-Length values are Malformed.
// - HeadDone() is true once the final response's headers are read: Status() and Location()
//   are then set, so a redirect can be followed without waiting for its body. Body() holds
//   the decoded body (chunks joined) received so far.
#pragma once

#include "monitor/download_result.h"

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

namespace http {

class ResponseReader {
public:
    enum class State { NeedMore, Complete, Failed };

    static constexpr std::size_t kMaxHeadBytes = 16 * 1024;

    explicit ResponseReader(std::size_t maxBodyBytes);

    State Feed(std::string_view bytes);
    State PeerClosed();

    State Current() const { return state_; }
    // Malformed, TooLarge or Truncated once Failed; None otherwise.
    platform::DownloadFailure Failure() const { return failure_; }
    bool HeadDone() const { return phase_ > Phase::Head; }
    int Status() const { return status_; }
    const std::string& Location() const { return location_; }
    const std::string& Body() const { return body_; }

private:
    enum class Phase { Head, Sized, ChunkSize, ChunkData, ChunkDataEnd, Trailer, UntilClose, Done };

    State Fail(platform::DownloadFailure failure);
    State Finish();
    // Each consumes from `bytes` what its phase needs; false when the bytes ran out.
    bool ReadHead(std::string_view& bytes);
    bool ParseHead();
    bool ReadBodyBytes(std::string_view& bytes, std::uint64_t& left);
    bool ReadLine(std::string_view& bytes, std::string& line);
    bool ReadChunkSize(std::string_view& bytes);
    bool ReadTrailer(std::string_view& bytes);
    bool ReadChunkDataEnd(std::string_view& bytes);

    std::size_t maxBody_;
    State state_ = State::NeedMore;
    platform::DownloadFailure failure_ = platform::DownloadFailure::None;
    Phase phase_ = Phase::Head;
    std::string head_; // the head read so far, or the current chunk-size or trailer line
    std::size_t trailerBytes_ = 0;
    int status_ = 0;
    std::string location_;
    std::string body_;
    std::uint64_t left_ = 0; // of the sized body or the current chunk
};

} // namespace http
