#include "oauth/loopback_listener.h"

namespace oauth {

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
