// The notice of a run that watches IPv6 beside IPv4: one line for each family, then the IPv6
// prefix and the machine's own addresses in it. Portable and pure.
#pragma once

#include <optional>
#include <string>
#include <vector>

namespace modGetExternalIP {

// One family as the notice reports it.
struct NoticeFamily {
    std::optional<std::string> address; // no value: the lookup failed
    std::string reason;                 // why, when it failed
    bool isNew = false;                 // the notice tells this address as new
};

// The lines, CR LF between them and none after:
//   "New WAN IP Detected:  a.b.c.d" or "WAN IP:  a.b.c.d (unchanged)" (or "not found (why)"),
//   "New WAN IPv6 Detected:  x" or "WAN IPv6:  x (unchanged)" or "WAN IPv6:  not found (why)",
//   and with an IPv6 address: "IPv6 prefix:  p::/64" and "Reachable at:  " with the stable
//   addresses (", " between them) or "none found on this machine".
std::string DualStackNoticeLines(const NoticeFamily& ipv4, const NoticeFamily& ipv6,
                                 const std::vector<std::string>& reachable);

} // namespace modGetExternalIP
