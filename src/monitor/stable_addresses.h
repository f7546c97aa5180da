// The machine's own stable IPv6 addresses inside a /64: the addresses at which it can be reached
// from outside, as the notice names them. The selection is portable; reading the interfaces is
// the platform's (GetAdaptersAddresses on Windows, getifaddrs with the kernel's address flags on
// POSIX), in stable_addresses_*.cpp.
#pragma once

#include "monitor/address_rule.h"

#include <string>
#include <string_view>
#include <vector>

namespace modGetExternalIP {

// One IPv6 address of one of the machine's interfaces, with what the system says of it.
struct InterfaceIPv6 {
    IPv6Bytes address{};
    bool temporary = false;  // a privacy address: rotates, takes no incoming connection
    bool deprecated = false; // past its preferred lifetime: kept for old connections only
    bool notReady = false;   // still being checked for duplicates, found a duplicate, or its
                             // interface is down
};

// The machine's IPv6 addresses on every interface; empty when they cannot be read.
std::vector<InterfaceIPv6> MachineIPv6Addresses();

// The addresses of the list inside the /64 of `address` (any address of it, or the prefix in
// "…::/64" form) that are global, ready, neither temporary nor deprecated: in written form,
// sorted, each once. Empty when `address` is no IPv6 address.
std::vector<std::string> StableAddressesIn(std::string_view address,
                                           const std::vector<InterfaceIPv6>& addresses);

// One line of Linux's /proc/net/if_inet6: the address, the interface's name and the kernel's
// address flags (IFA_F_*).
struct KernelIPv6Entry {
    IPv6Bytes address{};
    std::string interfaceName;
    unsigned flags = 0;
};
inline constexpr unsigned kKernelTemporary = 0x01;  // IFA_F_TEMPORARY
inline constexpr unsigned kKernelDadFailed = 0x08;  // IFA_F_DADFAILED
inline constexpr unsigned kKernelDeprecated = 0x20; // IFA_F_DEPRECATED
inline constexpr unsigned kKernelTentative = 0x40;  // IFA_F_TENTATIVE

// The entries of the file's text ("<32 hex digits> <index> <prefix length> <scope> <flags>
// <name>", the numbers in hex); a line that does not read so is skipped.
std::vector<KernelIPv6Entry> ParseKernelIPv6List(std::string_view text);

} // namespace modGetExternalIP
