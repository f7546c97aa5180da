// An SMTP server played from a script, for driving the SMTP client without a network: the unit
// tests' fixed conversations and the fuzzer's arbitrary ones.
#pragma once

#include "mail/smtp_transport.h"

#include <chrono>
#include <deque>
#include <string>
#include <vector>

namespace testing_support {

// Serves the scripted server output one chunk per Read; "" (or the script's end) closes,
// "TIMEOUT" times out. StartTls shows in what was sent as a line "[TLS host]".
//
// Time passes only as the script says: with a step, every Read takes that long on the clock
// `now` (which SmtpConfig::clock can read), or times out at its deadline when that comes first.
class ScriptedTransport final : public modSendEmail::SmtpTransport {
public:
    explicit ScriptedTransport(std::deque<std::string> script) : script_(std::move(script)) {}
    modSendEmail::Failure Connect(const std::string& host, const std::string& port, bool tls,
                                  modSendEmail::Deadline) override;
    modSendEmail::Failure StartTls(const std::string& host, modSendEmail::Deadline) override;
    Outcome<std::size_t> Read(char* buffer, std::size_t size, modSendEmail::Deadline) override;
    modSendEmail::Failure Write(std::string_view data, modSendEmail::Deadline) override;
    std::string LocalHostName() override { return "client\r\nRSET"; }

    std::string connected;           // "host:port", with " tls" for TLS from the first byte
    std::string sent;                // everything written, in order
    modSendEmail::Failure handshake; // what StartTls answers
    std::size_t served = 0;          // the bytes Read handed out
    std::vector<modSendEmail::Deadline> deadlines; // of every call, in order
    std::chrono::milliseconds step{0};
    modSendEmail::Deadline now{};

private:
    std::deque<std::string> script_;
    std::size_t offset_ = 0;
};

} // namespace testing_support
