#include "support/loopback_http_server.h"

#include <chrono>
#include <vector>

namespace testing_support {

LoopbackHttpServer::LoopbackHttpServer() {
    listener_ = loopback_socket::Listen(port_);
    if (listener_ >= 0) {
        thread_ = std::thread([this] { Serve(); });
    }
}

LoopbackHttpServer::~LoopbackHttpServer() {
    stop_ = true;
    if (thread_.joinable()) {
        thread_.join();
    }
    if (listener_ >= 0) {
        loopback_socket::Close(listener_);
    }
}

void LoopbackHttpServer::Respond(Mode mode, std::string response) {
    std::lock_guard lock(mutex_);
    mode_ = mode;
    response_ = std::move(response);
}

void LoopbackHttpServer::RespondText(const std::string& body) {
    Respond(Mode::Reply, "HTTP/1.1 200 OK\r\nContent-Type: text/plain\r\nContent-Length: " +
                             std::to_string(body.size()) + "\r\nConnection: close\r\n\r\n" + body);
}

std::string LoopbackHttpServer::Url() const {
    return "http://127.0.0.1:" + std::to_string(port_) + "/IPCheck.php";
}

void LoopbackHttpServer::Serve() {
    while (!stop_) {
        if (!loopback_socket::WaitReadable(listener_, 20)) {
            continue;
        }
        const std::intptr_t connection = loopback_socket::Accept(listener_);
        if (connection >= 0) {
            Handle(connection);
            loopback_socket::Close(connection);
        }
    }
}

void LoopbackHttpServer::Handle(std::intptr_t connection) {
    std::string request;
    char buffer[2048];
    while (request.find("\r\n\r\n") == std::string::npos && !stop_) {
        if (!loopback_socket::WaitReadable(connection, 20)) {
            continue;
        }
        const long n = loopback_socket::Receive(connection, buffer, sizeof buffer);
        if (n <= 0) {
            return;
        }
        request.append(buffer, static_cast<std::size_t>(n));
    }
    ++requests_;
    Mode mode;
    std::string response;
    {
        std::lock_guard lock(mutex_);
        mode = mode_;
        response = response_;
    }
    if (mode == Mode::Stall) {
        while (!stop_) {
            std::this_thread::sleep_for(std::chrono::milliseconds(20));
        }
        return;
    }
    if (!loopback_socket::SendAll(connection, response.data(), response.size())) {
        return;
    }
    if (mode == Mode::Flood) {
        const std::vector<char> chunk(4096, 'x');
        while (!stop_ && loopback_socket::SendAll(connection, chunk.data(), chunk.size())) {
        }
    }
}

std::string HttpGet(int port, const std::string& target) {
    const std::intptr_t s = loopback_socket::Connect(port);
    if (s == -1) {
        return {};
    }
    const std::string request = "GET " + target + " HTTP/1.1\r\nHost: 127.0.0.1\r\n\r\n";
    std::string response;
    if (loopback_socket::SendAll(s, request.data(), request.size())) {
        char buffer[4096];
        while (loopback_socket::WaitReadable(s, 10000)) {
            const long n = loopback_socket::Receive(s, buffer, sizeof buffer);
            if (n <= 0) {
                break;
            }
            response.append(buffer, static_cast<std::size_t>(n));
        }
    }
    loopback_socket::Close(s);
    return response;
}

} // namespace testing_support
