// BSD sockets for the loopback test server.
#include "support/loopback_http_server.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

namespace testing_support::loopback_socket {

std::intptr_t Listen(int& port) {
    const int s = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (s < 0) {
        return -1;
    }
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t length = sizeof address;
    if (::bind(s, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 ||
        ::listen(s, 8) != 0 ||
        ::getsockname(s, reinterpret_cast<sockaddr*>(&address), &length) != 0) {
        ::close(s);
        return -1;
    }
    port = ntohs(address.sin_port);
    return s;
}

bool WaitReadable(std::intptr_t s, int timeoutMs) {
    pollfd p{static_cast<int>(s), POLLIN, 0};
    return ::poll(&p, 1, timeoutMs) > 0;
}

std::intptr_t Accept(std::intptr_t listener) {
    return ::accept4(static_cast<int>(listener), nullptr, nullptr, SOCK_CLOEXEC);
}

long Receive(std::intptr_t s, char* buffer, std::size_t size) {
    return static_cast<long>(::recv(static_cast<int>(s), buffer, size, 0));
}

bool SendAll(std::intptr_t s, const char* data, std::size_t size) {
    while (size > 0) {
        const ssize_t n = ::send(static_cast<int>(s), data, size, MSG_NOSIGNAL);
        if (n <= 0) {
            return false;
        }
        data += n;
        size -= static_cast<std::size_t>(n);
    }
    return true;
}

void Close(std::intptr_t s) {
    ::close(static_cast<int>(s));
}

std::intptr_t Connect(int port) {
    const int s = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    address.sin_port = htons(static_cast<std::uint16_t>(port));
    if (s >= 0 && ::connect(s, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0) {
        ::close(s);
        return -1;
    }
    return s;
}

} // namespace testing_support::loopback_socket
