#include "support/scripted_smtp_transport.h"

#include <algorithm>

namespace testing_support {

using namespace modSendEmail;

Failure ScriptedTransport::Connect(const std::string& host, const std::string& port, bool tls,
                                   Deadline deadline) {
    deadlines.push_back(deadline);
    connected = host + ":" + port + (tls ? " tls" : "");
    return std::nullopt;
}

Failure ScriptedTransport::StartTls(const std::string& host, Deadline deadline) {
    deadlines.push_back(deadline);
    sent += "[TLS " + host + "]\r\n";
    return handshake;
}

Outcome<std::size_t> ScriptedTransport::Read(char* buffer, std::size_t size, Deadline deadline) {
    deadlines.push_back(deadline);
    const VbError timedOut{smtp_errors::kTimedOut, "The server did not answer in time."};
    if (step.count() > 0) {
        if (now + step > deadline) {
            now = std::max(now, deadline);
            return timedOut;
        }
        now += step;
    }
    if (script_.empty() || script_.front().empty()) {
        return std::size_t{0};
    }
    if (script_.front() == "TIMEOUT") {
        return timedOut;
    }
    const std::string& chunk = script_.front();
    const std::size_t n = std::min(size, chunk.size() - offset_);
    chunk.copy(buffer, n, offset_);
    offset_ += n;
    served += n;
    if (offset_ == chunk.size()) {
        script_.pop_front();
        offset_ = 0;
    }
    return n;
}

Failure ScriptedTransport::Write(std::string_view data, Deadline deadline) {
    deadlines.push_back(deadline);
    sent += data;
    return std::nullopt;
}

} // namespace testing_support
