#include "monitor/address_scope.h"

#include <string>

namespace modGetExternalIP {

namespace {

bool IsIPv4Mapped(const IPv6Bytes& a) {
    for (std::size_t i = 0; i < 10; ++i) {
        if (a[i] != 0) {
            return false;
        }
    }
    return a[10] == 0xff && a[11] == 0xff;
}

} // namespace

AddressScope ScopeOf(const IPv4Bytes& a) {
    if (a[0] == 0) {
        return AddressScope::Unspecified;
    }
    if (a[0] == 127) {
        return AddressScope::Loopback;
    }
    if (a[0] == 10 || (a[0] == 172 && (a[1] & 0xf0) == 16) || (a[0] == 192 && a[1] == 168)) {
        return AddressScope::Private;
    }
    if (a[0] == 100 && (a[1] & 0xc0) == 64) {
        return AddressScope::Shared;
    }
    if (a[0] == 169 && a[1] == 254) {
        return AddressScope::LinkLocal;
    }
    if ((a[0] & 0xf0) == 224) {
        return AddressScope::Multicast;
    }
    if (a == IPv4Bytes{255, 255, 255, 255}) {
        return AddressScope::Broadcast;
    }
    return AddressScope::Public;
}

AddressScope ScopeOf(const IPv6Bytes& a) {
    if (IsIPv4Mapped(a)) {
        return ScopeOf(IPv4Bytes{a[12], a[13], a[14], a[15]});
    }
    bool zeroUpTo15 = true;
    for (std::size_t i = 0; i < 15; ++i) {
        zeroUpTo15 = zeroUpTo15 && a[i] == 0;
    }
    if (zeroUpTo15 && a[15] == 0) {
        return AddressScope::Unspecified;
    }
    if (zeroUpTo15 && a[15] == 1) {
        return AddressScope::Loopback;
    }
    if ((a[0] & 0xfe) == 0xfc) {
        return AddressScope::Private;
    }
    if (a[0] == 0xfe && (a[1] & 0xc0) == 0x80) {
        return AddressScope::LinkLocal;
    }
    if (a[0] == 0xff) {
        return AddressScope::Multicast;
    }
    return AddressScope::Public;
}

std::optional<AddressScope> ScopeOfText(std::string_view text) {
    if (text.size() >= 2 && text.front() == '[' && text.back() == ']') {
        text = text.substr(1, text.size() - 2);
    }
    if (const auto v4 = ParseIPv4(text)) {
        return ScopeOf(*v4);
    }
    // A zone only names the interface of a link-local address; the address is what counts.
    if (const auto v6 = ParseIPv6(text.substr(0, text.find('%')))) {
        return ScopeOf(*v6);
    }
    return std::nullopt;
}

const char* ScopeName(AddressScope scope) {
    switch (scope) {
    case AddressScope::Public:
        return "public";
    case AddressScope::Unspecified:
        return "unspecified";
    case AddressScope::Loopback:
        return "loopback";
    case AddressScope::Private:
        return "private";
    case AddressScope::Shared:
        return "shared (carrier-grade NAT)";
    case AddressScope::LinkLocal:
        return "link-local";
    case AddressScope::Multicast:
        return "multicast";
    case AddressScope::Broadcast:
        return "broadcast";
    }
    return "unknown";
}

bool ConnectionRule::Admit(AddressScope scope) {
    const bool isPublic = scope == AddressScope::Public;
    if (!firstPublic_) {
        firstPublic_ = isPublic;
        return true;
    }
    return !*firstPublic_ || isPublic;
}

bool ConnectionRule::AdmitText(std::string_view address) {
    return Admit(ScopeOfText(address).value_or(AddressScope::Public));
}

} // namespace modGetExternalIP
