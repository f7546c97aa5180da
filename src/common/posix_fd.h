// RAII owner of a POSIX file descriptor. Include only from *_posix.cpp files.
#pragma once

#include <unistd.h>
#include <utility>

namespace posix {

class UniqueFd {
public:
    explicit UniqueFd(int fd = -1) : fd_(fd) {}
    UniqueFd(const UniqueFd&) = delete;
    UniqueFd& operator=(const UniqueFd&) = delete;
    UniqueFd(UniqueFd&& o) noexcept : fd_(std::exchange(o.fd_, -1)) {}
    UniqueFd& operator=(UniqueFd&& o) noexcept {
        if (this != &o) {
            Close();
            fd_ = std::exchange(o.fd_, -1);
        }
        return *this;
    }
    ~UniqueFd() { Close(); }

    int get() const { return fd_; }
    explicit operator bool() const { return fd_ >= 0; }
    // Closes now; false when close reported an error (a write that did not reach the file).
    bool Close() {
        const bool ok = fd_ < 0 || ::close(fd_) == 0;
        fd_ = -1;
        return ok;
    }

private:
    int fd_;
};

} // namespace posix
