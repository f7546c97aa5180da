// POSIX: the interfaces' IPv6 addresses from getifaddrs, and for each the kernel's flags from
// /proc/net/if_inet6 (getifaddrs does not tell a temporary or deprecated address from a stable
// one). An address the flags file does not list (it came or went between the two reads, or the
// file is missing) is left out: it cannot be shown to be stable.
#include "monitor/stable_addresses.h"

#include "common/posix_fd.h"

#include <cstring>
#include <fcntl.h>
#include <ifaddrs.h>
#include <net/if.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

namespace modGetExternalIP {

namespace {

// The flags file is a kernel file of a few lines per address; a bound keeps a strange one small.
constexpr std::size_t kMaxFlagsFile = 1 << 20;

std::string ReadFlagsFile() {
    std::string text;
    const posix::UniqueFd fd(::open("/proc/net/if_inet6", O_RDONLY | O_CLOEXEC));
    if (!fd) {
        return text;
    }
    char buffer[4096];
    ssize_t n = 0;
    while (text.size() < kMaxFlagsFile && (n = ::read(fd.get(), buffer, sizeof buffer)) > 0) {
        text.append(buffer, static_cast<std::size_t>(n));
    }
    return text;
}

class InterfaceList {
public:
    InterfaceList() {
        if (::getifaddrs(&list_) != 0) {
            list_ = nullptr;
        }
    }
    ~InterfaceList() {
        if (list_ != nullptr) {
            ::freeifaddrs(list_);
        }
    }
    InterfaceList(const InterfaceList&) = delete;
    InterfaceList& operator=(const InterfaceList&) = delete;
    const ifaddrs* get() const { return list_; }

private:
    ifaddrs* list_ = nullptr;
};

} // namespace

std::vector<InterfaceIPv6> MachineIPv6Addresses() {
    std::vector<InterfaceIPv6> addresses;
    const InterfaceList list;
    const std::vector<KernelIPv6Entry> kernel = ParseKernelIPv6List(ReadFlagsFile());
    for (const ifaddrs* i = list.get(); i != nullptr; i = i->ifa_next) {
        if (i->ifa_addr == nullptr || i->ifa_addr->sa_family != AF_INET6 ||
            i->ifa_name == nullptr) {
            continue;
        }
        InterfaceIPv6 a;
        const auto* in6 = reinterpret_cast<const sockaddr_in6*>(i->ifa_addr);
        std::memcpy(a.address.data(), &in6->sin6_addr, a.address.size());
        const KernelIPv6Entry* flags = nullptr;
        for (const KernelIPv6Entry& k : kernel) {
            if (k.address == a.address && k.interfaceName == i->ifa_name) {
                flags = &k;
                break;
            }
        }
        if (flags == nullptr) {
            continue;
        }
        a.temporary = (flags->flags & kKernelTemporary) != 0;
        a.deprecated = (flags->flags & kKernelDeprecated) != 0;
        a.notReady = (flags->flags & (kKernelTentative | kKernelDadFailed)) != 0 ||
                     (i->ifa_flags & IFF_UP) == 0;
        addresses.push_back(a);
    }
    return addresses;
}

} // namespace modGetExternalIP
