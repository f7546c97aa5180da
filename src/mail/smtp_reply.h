// SMTP server replies: one reply's code and lines, and the parser that collects them from the
// byte stream. Pure text work, no I/O.
#pragma once

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

// Collects reply lines until the last one ("ddd text" after "ddd-text" lines).
class SmtpReplyParser {
public:
    enum class State { NeedMore, Complete, Malformed };
    // Feeds bytes; returns Complete when a reply is whole (bytes after it stay for the next).
    State Feed(std::string_view bytes);
    // The finished reply; resets the parser for the next one.
    SmtpReply Take();
    // Bytes received and not yet part of a taken reply.
    std::string_view Pending() const { return buffer_; }

private:
    std::string buffer_;
    SmtpReply reply_;
    bool haveCode_ = false;
};

} // namespace modSendEmail
