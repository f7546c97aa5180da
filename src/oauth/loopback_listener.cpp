#include "oauth/loopback_listener.h"

namespace oauth {

namespace {

constexpr std::size_t kMaxHead = 16 * 1024;

} // namespace

std::optional<std::string> ReadRequestHead(const std::function<bool()>& wait,
                                           const std::function<long(char*, std::size_t)>& read) {
    std::string head;
    char buffer[2048];
    while (head.find("\r\n\r\n") == std::string::npos && head.size() < kMaxHead) {
        if (!wait()) {
            return std::nullopt;
        }
        const long n = read(buffer, sizeof buffer);
        if (n == kTransferAgain) {
            continue;
        }
        if (n <= 0) {
            break;
        }
        head.append(buffer, static_cast<std::size_t>(n));
    }
    return head;
}

void WriteResponse(const std::string& response, const std::function<bool()>& wait,
                   const std::function<long(const char*, std::size_t)>& send) {
    std::size_t sent = 0;
    while (sent < response.size() && wait()) {
        const long n = send(response.data() + sent, response.size() - sent);
        if (n == kTransferAgain) {
            continue;
        }
        if (n <= 0) {
            break;
        }
        sent += static_cast<std::size_t>(n);
    }
}

std::optional<std::string> RequestTarget(const std::string& head) {
    if (head.rfind("GET ", 0) != 0) {
        return std::nullopt;
    }
    const auto end = head.find(' ', 4);
    if (end == std::string::npos || end == 4) {
        return std::nullopt;
    }
    return head.substr(4, end - 4);
}

std::string HtmlResponse(int status, const std::string& html) {
    return "HTTP/1.1 " + std::to_string(status) + (status == 200 ? " OK" : " Bad Request") +
           "\r\nContent-Type: text/html; charset=utf-8\r\nContent-Length: " +
           std::to_string(html.size()) +
           "\r\nConnection: close\r\nCache-Control: no-store\r\n\r\n" + html;
}

} // namespace oauth
