// Winsock for the loopback test server.
#include "support/loopback_http_server.h"

#include <winsock2.h>

namespace testing_support::loopback_socket {

namespace {
SOCKET AsSocket(std::intptr_t s) {
    return static_cast<SOCKET>(s);
}
} // namespace

std::intptr_t Listen(int& port) {
    static const bool started = [] {
        WSADATA data;
        return ::WSAStartup(MAKEWORD(2, 2), &data) == 0;
    }();
    if (!started) {
        return -1;
    }
    const SOCKET s = ::socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
    if (s == INVALID_SOCKET) {
        return -1;
    }
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    int length = sizeof address;
    if (::bind(s, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 ||
        ::listen(s, 8) != 0 ||
        ::getsockname(s, reinterpret_cast<sockaddr*>(&address), &length) != 0) {
        ::closesocket(s);
        return -1;
    }
    port = ntohs(address.sin_port);
    return static_cast<std::intptr_t>(s);
}

bool WaitReadable(std::intptr_t s, int timeoutMs) {
    fd_set set;
    FD_ZERO(&set);
    FD_SET(AsSocket(s), &set);
    timeval wait{timeoutMs / 1000, (timeoutMs % 1000) * 1000};
    return ::select(0, &set, nullptr, nullptr, &wait) > 0;
}

std::intptr_t Accept(std::intptr_t listener) {
    const SOCKET s = ::accept(AsSocket(listener), nullptr, nullptr);
    return s == INVALID_SOCKET ? -1 : static_cast<std::intptr_t>(s);
}

long Receive(std::intptr_t s, char* buffer, std::size_t size) {
    return ::recv(AsSocket(s), buffer, static_cast<int>(size), 0);
}

bool SendAll(std::intptr_t s, const char* data, std::size_t size) {
    while (size > 0) {
        const int n = ::send(AsSocket(s), data, static_cast<int>(size), 0);
        if (n <= 0) {
            return false;
        }
        data += n;
        size -= static_cast<std::size_t>(n);
    }
    return true;
}

void Close(std::intptr_t s) {
    ::closesocket(AsSocket(s));
}

std::intptr_t Connect(int port) {
    int ignored = 0;
    Close(Listen(ignored)); // starts Winsock once
    const SOCKET s = ::socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    address.sin_port = htons(static_cast<u_short>(port));
    if (s == INVALID_SOCKET ||
        ::connect(s, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0) {
        if (s != INVALID_SOCKET) {
            ::closesocket(s);
        }
        return -1;
    }
    return static_cast<std::intptr_t>(s);
}

} // namespace testing_support::loopback_socket
