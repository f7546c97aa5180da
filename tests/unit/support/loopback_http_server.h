// A one-page HTTP server on 127.0.0.1 for the download tests: answers every request with the
// bytes it is given, or stalls, or floods, until it is destroyed.
#pragma once

#include <atomic>
#include <cstdint>
#include <mutex>
#include <string>
#include <thread>

namespace testing_support {

class LoopbackHttpServer {
public:
    enum class Mode {
        Reply, // send the response bytes and close
        Stall, // read the request, then send nothing and keep the connection open
        Flood, // send the response bytes (headers), then body bytes without end
    };

    LoopbackHttpServer();
    ~LoopbackHttpServer();
    LoopbackHttpServer(const LoopbackHttpServer&) = delete;
    LoopbackHttpServer& operator=(const LoopbackHttpServer&) = delete;

    // Full response bytes, status line and headers included.
    void Respond(Mode mode, std::string response);
    // A 200 response with the body as text/plain and its Content-Length.
    void RespondText(const std::string& body);

    // "http://127.0.0.1:<port>/IPCheck.php"
    std::string Url() const;
    int Port() const { return port_; }
    int Requests() const { return requests_.load(); }

private:
    void Serve();
    void Handle(std::intptr_t connection);

    std::intptr_t listener_ = -1;
    int port_ = 0;
    std::atomic<bool> stop_{false};
    std::atomic<int> requests_{0};
    std::mutex mutex_;
    Mode mode_ = Mode::Reply;
    std::string response_;
    std::thread thread_;
};

// The few socket calls the server needs, one backend per platform.
namespace loopback_socket {
// A listening TCP socket on 127.0.0.1 with a free port; -1 on failure.
std::intptr_t Listen(int& port);
// True when the socket becomes readable within timeoutMs.
bool WaitReadable(std::intptr_t s, int timeoutMs);
std::intptr_t Accept(std::intptr_t listener);
// Bytes received (0 at end, negative on error).
long Receive(std::intptr_t s, char* buffer, std::size_t size);
bool SendAll(std::intptr_t s, const char* data, std::size_t size);
void Close(std::intptr_t s);
// A connected TCP socket to 127.0.0.1:port; -1 on failure.
std::intptr_t Connect(int port);
} // namespace loopback_socket

// A browser's visit: GET target from 127.0.0.1:port, the whole response as it came until the
// server closed (empty when nothing answered within 10 s).
std::string HttpGet(int port, const std::string& target);

} // namespace testing_support
