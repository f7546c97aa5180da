#include "common/resolve_posix.h"

#include <condition_variable>
#include <cstring>
#include <memory>
#include <mutex>
#include <netdb.h>
#include <system_error>
#include <thread>

namespace posix {

namespace {

// What the caller and the resolving thread share; whichever lets go last frees it.
struct PendingResolution {
    std::mutex mutex;
    std::condition_variable finished;
    bool done = false;
    Resolution result;
};

Resolution ResolveNow(const std::string& host, const std::string& port, int flags) {
    addrinfo hints{};
    hints.ai_family = AF_UNSPEC;
    hints.ai_socktype = SOCK_STREAM;
    hints.ai_flags = flags;
    addrinfo* list = nullptr;
    Resolution result;
    result.error = ::getaddrinfo(host.c_str(), port.c_str(), &hints, &list);
    if (result.error != 0) {
        return result;
    }
    for (const addrinfo* a = list; a != nullptr; a = a->ai_next) {
        ResolvedAddress r{a->ai_family, a->ai_socktype, a->ai_protocol, {}, 0};
        if (a->ai_addrlen <= sizeof r.address) {
            std::memcpy(&r.address, a->ai_addr, a->ai_addrlen);
            r.length = a->ai_addrlen;
            result.addresses.push_back(r);
        }
    }
    ::freeaddrinfo(list);
    return result;
}

} // namespace

Resolution ResolveStream(const std::string& host, const std::string& port,
                         std::chrono::steady_clock::time_point deadline, int flags) {
    const auto pending = std::make_shared<PendingResolution>();
    try {
        std::thread([pending, host, port, flags] {
            Resolution found = ResolveNow(host, port, flags);
            const std::lock_guard lock(pending->mutex);
            pending->result = std::move(found);
            pending->done = true;
            pending->finished.notify_all();
        }).detach();
    } catch (const std::system_error&) {
        return {{}, false, EAI_SYSTEM};
    }
    std::unique_lock lock(pending->mutex);
    if (!pending->finished.wait_until(lock, deadline, [&] { return pending->done; })) {
        return {{}, true, 0};
    }
    return std::move(pending->result);
}

} // namespace posix
