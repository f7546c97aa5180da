// Winsock for as long as the owner lives. Include only from *_win32.cpp files.
#pragma once

#include <winsock2.h>
#include <ws2tcpip.h>

#include "common/windows_api.h"

namespace win32 {

class WinsockSession {
public:
    WinsockSession() {
        WSADATA data;
        ok_ = ::WSAStartup(MAKEWORD(2, 2), &data) == 0;
    }
    ~WinsockSession() {
        if (ok_) {
            ::WSACleanup();
        }
    }
    WinsockSession(const WinsockSession&) = delete;
    WinsockSession& operator=(const WinsockSession&) = delete;
    bool ok() const { return ok_; }

private:
    bool ok_ = false;
};

} // namespace win32
