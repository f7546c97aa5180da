// SMTP server replies: one reply's code and lines, and the parser that collects them from the
// byte stream. Pure text work, no I/O.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

namespace modSendEmail {

// One server reply: its code and its lines' texts.
struct SmtpReply {
    int code = 0;
    std::vector<std::string> lines;
    std::string Text() const; // the lines joined by CRLF
};

// A reply's bytes, all its lines with their line ends, are at most this many (as a page's are).
inline constexpr std::size_t kMaxReplyBytes = 64 * 1024;

// Collects reply lines until the last one ("ddd text" after "ddd-text" lines).
class SmtpReplyParser {
public:
    // TooLong: the reply under way has grown past kMaxReplyBytes (noticed within one Feed of
    // it, so a reader that stops there holds no more than a bound and a read). It and Malformed
    // are final.
    enum class State { NeedMore, Complete, Malformed, TooLong };
    // Feeds bytes; returns Complete when a reply is whole (bytes after it stay for the next).
    State Feed(std::string_view bytes);
    // The finished reply; resets the parser for the next one.
    SmtpReply Take();
    // Bytes received and not yet part of a taken reply.
    std::string_view Pending() const { return buffer_; }

private:
    std::string buffer_;
    std::size_t replyBytes_ = 0; // the bytes of reply_'s lines
    SmtpReply reply_;
    bool haveCode_ = false;
};

} // namespace modSendEmail
