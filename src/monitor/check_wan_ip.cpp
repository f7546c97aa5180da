// The check run: look up the WAN address, compare it with the one remembered, and on a change
// remember the new one and send the notice.
#include "app/mode_handlers.h"
#include "mail/send_email.h"
#include "monitor/wan_ip.h"
#include "registry/registry.h"

#include <optional>
#include <string>
#include <variant>

namespace modGetExternalIP {

namespace {

constexpr const char* kRoot = "HKLM";
constexpr const char* kKey = "Software\\Quillfen\\Addrwatch";
constexpr const char* kValueName = "LastWANIP";

// The remembered address; the empty text when it is absent or cannot be read.
std::string LastWanIP() {
    modRegistry::RegValue value = std::string();
    if (modRegistry::fReadValue(kRoot, kKey, kValueName, "S", std::string(), value) != 0) {
        return {};
    }
    const std::string* text = std::get_if<std::string>(&value);
    return text != nullptr ? *text : std::string();
}

void StoreWanIP(const std::string& sAddress) {
    modRegistry::fWriteValue(kRoot, kKey, kValueName, "S", sAddress);
}

} // namespace

void CheckWanIP() {
    const std::optional<std::string> found = GetWanIP();
    if (!found) {
        // No page gave an address that passes ValidateAddress: the run changes nothing.
        return;
    }
    const std::string& current = *found;
    const std::string last = LastWanIP();
    if (current == last) {
        return;
    }
    // Stored before sending, so a slow send cannot make an overlapping run send too.
    StoreWanIP(current);
    if (!modSendEmail::SendEmail(current)) {
        // The notice did not go out: put the old value back so the next run tries again.
        StoreWanIP(last);
    }
}

} // namespace modGetExternalIP
