#include "platform/win32/WinNetworkParams.h"

#include "platform/win32/IpHelper.h"
#include "platform/win32/WinSockets.h"

#include <cstring>
#include <vector>

namespace tarnwell::platform {

namespace {

using GetNetworkParamsFn = DWORD(WINAPI*)(PFIXED_INFO, PULONG);

static_assert(sizeof(IP_ADDRESS_STRING) <= sizeof(IpAddressString), "an IpAddress field fits the entry");

GetNetworkParamsFn Entry() { return IpHelperEntry<GetNetworkParamsFn>("GetNetworkParams"); }

// GetNetworkParams lists IPv4 servers only. The first IPv6 server of an
// adapter that is up, as text (a link-local one with its interface index as
// the zone); nothing when there is none.
std::optional<IpAddressString> FirstIpv6Server() {
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
            const auto address = FromSockaddr(reinterpret_cast<const sockaddr*>(&server6));
            if (!address) continue;
            const std::string text = address->Text();
            IpAddressString field{};
            if (text.size() >= field.size()) continue;
            std::memcpy(field.data(), text.data(), text.size());
            return field;
        }
    }
    return std::nullopt;
}

}  // namespace

bool WinNetworkParams::Available() { return Entry() != nullptr; }

std::uint32_t WinNetworkParams::QuerySize(std::uint32_t& size) {
    const auto call = Entry();
    if (!call) return ERROR_NOT_SUPPORTED;
    ULONG needed = 0;
    const DWORD code = call(nullptr, &needed);
    size = needed;
    return code;
}

std::vector<IpAddressString> WinNetworkParams::DnsServerList(std::uint32_t size) {
    const auto call = Entry();
    std::vector<IpAddressString> out;
    if (!call || size < sizeof(FIXED_INFO)) return out;
    // Zero-filled and kept alive until the walk is done: the entries after
    // the first lie inside it.
    std::vector<unsigned char> buffer(size, 0);
    ULONG length = size;
    call(reinterpret_cast<PFIXED_INFO>(buffer.data()), &length);
    const auto* info = reinterpret_cast<const FIXED_INFO*>(buffer.data());
    for (const IP_ADDR_STRING* entry = &info->DnsServerList; entry; entry = entry->Next) {
        IpAddressString field{};
        std::memcpy(field.data(), entry->IpAddress.String, sizeof entry->IpAddress.String);
        out.push_back(field);
    }
    // No IPv4 server: a computer whose servers are all IPv6.
    if (out.front()[0] == '\0')
        if (const auto v6 = FirstIpv6Server()) out = {*v6};
    return out;
}

}  // namespace tarnwell::platform
