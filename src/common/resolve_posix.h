// Name resolution within a deadline (POSIX). getaddrinfo has no time bound of its own, so it runs
// on a worker thread that the caller leaves behind at the deadline. Include only from *_posix.cpp
// files.
#pragma once

#include <chrono>
#include <string>
#include <sys/socket.h>
#include <vector>

namespace posix {

struct ResolvedAddress {
    int family;
    int socktype;
    int protocol;
    sockaddr_storage address;
    socklen_t length;
};

struct Resolution {
    std::vector<ResolvedAddress> addresses;
    bool timedOut = false;
    int error = 0; // getaddrinfo's code when it answered with a failure
};

// The host's stream addresses for port, or none by the deadline. flags go to getaddrinfo's hints.
Resolution ResolveStream(const std::string& host, const std::string& port,
                         std::chrono::steady_clock::time_point deadline, int flags = 0);

} // namespace posix
