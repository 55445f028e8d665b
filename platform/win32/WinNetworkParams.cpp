#include "platform/win32/WinNetworkParams.h"

#include "platform/win32/IpHelper.h"
#include "platform/win32/WinSockets.h"

#include <cstring>
#include <vector>

namespace tarnwell::platform {

namespace {

using GetNetworkParamsFn = DWORD(WINAPI*)(PFIXED_INFO, PULONG);

GetNetworkParamsFn Entry() { return IpHelperEntry<GetNetworkParamsFn>("GetNetworkParams"); }

// GetNetworkParams lists IPv4 servers only. The first IPv6 server of an
// adapter that is up (a link-local one with its interface index as the
// zone); nothing when there is none.
std::optional<Address> FirstIpv6Server() {
    const auto storage = AdaptersAddresses(GAA_FLAG_SKIP_UNICAST | GAA_FLAG_SKIP_ANYCAST | GAA_FLAG_SKIP_MULTICAST);
    for (const auto* adapter = FirstAdapter(storage); adapter; adapter = adapter->Next) {
        if (adapter->OperStatus != IfOperStatusUp) continue;
        for (const auto* server = adapter->FirstDnsServerAddress; server; server = server->Next) {
            const sockaddr* sa = server->Address.lpSockaddr;
            if (!sa || sa->sa_family != AF_INET6 || server->Address.iSockaddrLength < static_cast<INT>(sizeof(sockaddr_in6)))
                continue;
            // A link-local server is reached through the adapter that lists
            // it: its index is the zone when the entry has none (Wine gives
            // none).
            sockaddr_in6 server6;
            std::memcpy(&server6, sa, sizeof server6);
            const ULONG index = adapter->Ipv6IfIndex ? adapter->Ipv6IfIndex : adapter->IfIndex;
            if (IN6_IS_ADDR_LINKLOCAL(&server6.sin6_addr) && !server6.sin6_scope_id) server6.sin6_scope_id = index;
            if (const auto address = FromSockaddr(reinterpret_cast<const sockaddr*>(&server6))) return address;
        }
    }
    return std::nullopt;
}

}  // namespace

std::optional<std::vector<Address>> WinNetworkParams::DnsServers() {
    const auto call = Entry();
    if (!call) return std::nullopt;
    ULONG size = 0;
    if (call(nullptr, &size) != ERROR_BUFFER_OVERFLOW || size < sizeof(FIXED_INFO)) return std::vector<Address>{};
    // Zero-filled and kept alive until the walk is done: the entries after
    // the first lie inside it.
    std::vector<unsigned char> buffer(size, 0);
    ULONG length = size;
    std::vector<Address> servers;
    if (call(reinterpret_cast<PFIXED_INFO>(buffer.data()), &length) == ERROR_SUCCESS) {
        const auto* info = reinterpret_cast<const FIXED_INFO*>(buffer.data());
        for (const IP_ADDR_STRING* entry = &info->DnsServerList; entry; entry = entry->Next) {
            const std::string_view field(entry->IpAddress.String, strnlen(entry->IpAddress.String, sizeof entry->IpAddress.String));
            if (const auto address = Address::Parse(field)) servers.push_back(*address);
        }
    }
    // No IPv4 server: a computer whose servers are all IPv6.
    if (servers.empty())
        if (const auto v6 = FirstIpv6Server()) servers.push_back(*v6);
    return servers;
}

}  // namespace tarnwell::platform
