// Where an address leads: the public Internet, or somewhere that cannot be the WAN side and that
// a page on the Internet must not send the check run to (this machine, the LAN, link-local
// services, multicast). One judgement for the answers ValidateAddress checks and for the
// addresses a page's connections reach. Portable and pure.
#pragma once

#include "monitor/address_rule.h"

#include <optional>
#include <string_view>

namespace modGetExternalIP {

enum class AddressScope {
    Public,      // everything else, the documentation ranges included
    Unspecified, // 0.0.0.0/8, ::
    Loopback,    // 127.0.0.0/8, ::1
    Private,     // 10/8, 172.16/12, 192.168/16, fc00::/7
    Shared,      // 100.64.0.0/10, the carrier-grade NAT range
    LinkLocal,   // 169.254/16, fe80::/10
    Multicast,   // 224/4, ff00::/8
    Broadcast,   // 255.255.255.255
};

AddressScope ScopeOf(const IPv4Bytes& address);
// An IPv4-mapped address (::ffff:a.b.c.d) is judged as the IPv4 address it carries.
AddressScope ScopeOf(const IPv6Bytes& address);
// The scope of an address written as text (dotted decimal or any IPv6 spelling, brackets and a
// zone such as "%eth0" allowed, as connection reports give them); no value for anything else.
std::optional<AddressScope> ScopeOfText(std::string_view text);

// "loopback", "private", ... for diagnostic messages.
const char* ScopeName(AddressScope scope);

// The rule for the connections of one page download, its redirects included: a page that is
// itself inside (a LAN device, a page on this machine) may lead anywhere, but once the first
// connection reached a public address every later one must be public too, so a page on the
// Internet cannot turn the check run against the machine's own network.
class ConnectionRule {
public:
    // The connection about to carry a request reached `scope`: true when it may go on.
    bool Admit(AddressScope scope);
    // Admit for an address as text; an address that does not read as one counts as public
    // (from the first connection on), which keeps the rule's side of caution.
    bool AdmitText(std::string_view address);

private:
    std::optional<bool> firstPublic_;
};

} // namespace modGetExternalIP
