#include "mail/smtp_reply.h"

namespace modSendEmail {

namespace {

constexpr std::size_t kMaxReplyLines = 1000;

bool IsDigit(char c) {
    return c >= '0' && c <= '9';
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
        // A line without its end counts whole, so an endless line is refused as soon as it is
        // too long for any reply.
        const std::size_t lineBytes = lf == std::string::npos ? buffer_.size() : lf + 1;
        if (replyBytes_ + lineBytes > kMaxReplyBytes) {
            return State::TooLong;
        }
        if (lf == std::string::npos) {
            return State::NeedMore;
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
        replyBytes_ += lineBytes;
        buffer_.erase(0, lf + 1);
        if (line.size() == 3 || line[3] == ' ') {
            return State::Complete;
        }
        if (reply_.lines.size() > kMaxReplyLines) {
            return State::Malformed;
        }
    }
}

SmtpReply SmtpReplyParser::Take() {
    SmtpReply r = std::move(reply_);
    reply_ = SmtpReply{};
    replyBytes_ = 0;
    haveCode_ = false;
    return r;
}

} // namespace modSendEmail
