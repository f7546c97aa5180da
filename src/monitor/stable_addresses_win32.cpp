// Windows: the adapters' IPv6 addresses from GetAdaptersAddresses. A temporary address is one
// whose interface part the system chose at random (IpSuffixOriginRandom); a deprecated one is
// past its preferred lifetime (IpDadStateDeprecated); one still being checked, or found twice,
// is not ready, and so is every address of an adapter that is not up.
#include <winsock2.h>
#include <ws2tcpip.h>

#include "common/windows_api.h"

#include <iphlpapi.h>

#include "monitor/stable_addresses.h"

#include <cstring>
#include <memory>

namespace modGetExternalIP {

std::vector<InterfaceIPv6> MachineIPv6Addresses() {
    std::vector<InterfaceIPv6> addresses;
    constexpr ULONG kFlags =
        GAA_FLAG_SKIP_ANYCAST | GAA_FLAG_SKIP_MULTICAST | GAA_FLAG_SKIP_DNS_SERVER;
    // The list's size can grow between the two calls; a few tries cover that.
    ULONG size = 16 * 1024;
    std::unique_ptr<unsigned char[]> buffer;
    ULONG result = ERROR_BUFFER_OVERFLOW;
    for (int attempt = 0; attempt < 4 && result == ERROR_BUFFER_OVERFLOW; ++attempt) {
        buffer = std::make_unique<unsigned char[]>(size);
        result =
            ::GetAdaptersAddresses(AF_INET6, kFlags, nullptr,
                                   reinterpret_cast<IP_ADAPTER_ADDRESSES*>(buffer.get()), &size);
    }
    if (result != NO_ERROR) {
        return addresses;
    }
    for (auto* adapter = reinterpret_cast<const IP_ADAPTER_ADDRESSES*>(buffer.get());
         adapter != nullptr; adapter = adapter->Next) {
        for (const IP_ADAPTER_UNICAST_ADDRESS* u = adapter->FirstUnicastAddress; u != nullptr;
             u = u->Next) {
            const SOCKADDR* sa = u->Address.lpSockaddr;
            if (sa == nullptr || sa->sa_family != AF_INET6 ||
                u->Address.iSockaddrLength < static_cast<INT>(sizeof(sockaddr_in6))) {
                continue;
            }
            InterfaceIPv6 a;
            std::memcpy(a.address.data(), &reinterpret_cast<const sockaddr_in6*>(sa)->sin6_addr,
                        a.address.size());
            a.temporary = u->SuffixOrigin == IpSuffixOriginRandom;
            a.deprecated = u->DadState == IpDadStateDeprecated;
            a.notReady = (u->DadState != IpDadStatePreferred && !a.deprecated) ||
                         adapter->OperStatus != IfOperStatusUp;
            addresses.push_back(a);
        }
    }
    return addresses;
}

} // namespace modGetExternalIP
