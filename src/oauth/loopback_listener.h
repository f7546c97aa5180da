// The loopback redirect of the authorization-code flow (RFC 8252 section 7.3): a listener on
// 127.0.0.1 at a free port that takes one browser request at a time, reads its request line
// within a short bound, and answers it with a small page.
#pragma once

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>

namespace oauth {

class LoopbackListener {
public:
    LoopbackListener(); // listens at once; ok() says whether it could
    ~LoopbackListener();
    LoopbackListener(const LoopbackListener&) = delete;
    LoopbackListener& operator=(const LoopbackListener&) = delete;

    bool ok() const;
    std::uint16_t port() const;

    // Waits up to span for a request and returns its target ("/?code=...&state=..."); the
    // connection stays open for Answer. Nothing when none came or it was not a GET.
    std::optional<std::string> NextRequest(std::chrono::milliseconds span);
    // Answers the request NextRequest returned, then closes its connection.
    void Answer(int status, const std::string& html);

    struct Impl;

private:
    std::unique_ptr<Impl> impl_;
};

// How long one read or write on the browser's connection may wait.
inline constexpr std::chrono::milliseconds kConnectionWait{5000};

// What one read or write on the browser's connection gives besides a positive byte count: try
// again, or stop (end of stream or failure).
inline constexpr long kTransferAgain = -1;
inline constexpr long kTransferEnd = 0;

// Reads a request head, up to its blank line, the end of the stream or a size bound. wait says
// whether data came in time (nothing when it did not); read fills the buffer.
std::optional<std::string> ReadRequestHead(const std::function<bool()>& wait,
                                           const std::function<long(char*, std::size_t)>& read);
// Writes the response while wait says the connection takes more and send does not end it.
void WriteResponse(const std::string& response, const std::function<bool()>& wait,
                   const std::function<long(const char*, std::size_t)>& send);

// The request target of a request head ("GET /x HTTP/1.1\r\n..."); nothing for other methods.
std::optional<std::string> RequestTarget(const std::string& head);
// A complete HTTP/1.1 response with the html as body, closing the connection.
std::string HtmlResponse(int status, const std::string& html);

} // namespace oauth
