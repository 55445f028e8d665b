#include "platform/win32/WinSockets.h"

#include "platform/win32/IpHelper.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>

namespace tarnwell::platform {

namespace {

// RFC 4007 section 11.2: a zone is an interface's index or name. Windows
// writes indexes; a name is looked up as IP Helper knows it.
ULONG ZoneIndex(const std::string& zone) {
    if (zone.empty() || zone.size() > 10) return 0;
    if (std::all_of(zone.begin(), zone.end(), [](char c) { return c >= '0' && c <= '9'; })) {
        const unsigned long long index = std::strtoull(zone.c_str(), nullptr, 10);
        return index <= 0xFFFFFFFFu ? static_cast<ULONG>(index) : 0;
    }
    using Fn = NET_IFINDEX(WINAPI*)(PCSTR);
    const auto byName = IpHelperEntry<Fn>("if_nametoindex");
    return byName ? byName(zone.c_str()) : 0;
}

}  // namespace

std::optional<Address> FromSockaddr(const sockaddr* sa) {
    if (!sa) return std::nullopt;
    if (sa->sa_family == AF_INET) {
        const auto* sin = reinterpret_cast<const sockaddr_in*>(sa);
        std::array<std::uint8_t, Address::kV4Size> bytes;
        std::memcpy(bytes.data(), &sin->sin_addr, bytes.size());
        return Address::V4(bytes);
    }
    if (sa->sa_family == AF_INET6) {
        const auto* sin6 = reinterpret_cast<const sockaddr_in6*>(sa);
        std::array<std::uint8_t, Address::kV6Size> bytes;
        std::memcpy(bytes.data(), &sin6->sin6_addr, bytes.size());
        return Address::V6(bytes, sin6->sin6_scope_id ? std::to_string(sin6->sin6_scope_id) : std::string());
    }
    return std::nullopt;
}

int ToSockaddr(const Address& address, std::uint16_t port, sockaddr_storage& out) {
    out = {};
    if (address.IsV4()) {
        auto* sin = reinterpret_cast<sockaddr_in*>(&out);
        sin->sin_family = AF_INET;
        sin->sin_port = htons(port);
        std::memcpy(&sin->sin_addr, address.Bytes().data(), Address::kV4Size);
        return sizeof *sin;
    }
    auto* sin6 = reinterpret_cast<sockaddr_in6*>(&out);
    sin6->sin6_family = AF_INET6;
    sin6->sin6_port = htons(port);
    std::memcpy(&sin6->sin6_addr, address.Bytes().data(), Address::kV6Size);
    if (!address.Zone().empty()) {
        sin6->sin6_scope_id = ZoneIndex(address.Zone());
        if (!sin6->sin6_scope_id) return 0;
    }
    return sizeof *sin6;
}

WinSockets::WinSockets() {
    // 2.2: getaddrinfo and IPv6 sockets. A library that offers less still
    // starts, and says so in wVersion: that start is ended at once.
    WSADATA data;
    started_ = WSAStartup(MAKEWORD(2, 2), &data);
    if (started_ == 0 && data.wVersion != MAKEWORD(2, 2)) {
        WSACleanup();
        started_ = WSAVERNOTSUPPORTED;
    }
}

WinSockets::~WinSockets() {
    if (started_ == 0) WSACleanup();
}

// The same getaddrinfo walk as PosixSockets.cpp: written twice, since the two stand on
// different system headers (netdb.h, ws2tcpip.h) and no file includes both.
std::optional<std::vector<Address>> WinSockets::GetAddrInfo(const std::string& name) {
    // The road a browser takes: the DNS client with the hosts file. One
    // entry per address (stream sockets only).
    if (name.find('\0') != std::string::npos) return std::nullopt;
    addrinfo hints{};
    hints.ai_family = AF_UNSPEC;
    hints.ai_socktype = SOCK_STREAM;
    hints.ai_flags = AI_ADDRCONFIG;
    addrinfo* list = nullptr;
    if (getaddrinfo(name.c_str(), nullptr, &hints, &list) != 0 || !list) return std::nullopt;
    std::vector<Address> out;
    for (const addrinfo* ai = list; ai; ai = ai->ai_next) {
        const auto address = FromSockaddr(ai->ai_addr);
        if (address && std::find(out.begin(), out.end(), *address) == out.end()) out.push_back(*address);
    }
    freeaddrinfo(list);
    return out;
}

std::vector<Address> WinSockets::InterfaceAddresses() {
    std::vector<Address> out;
    const auto storage = AdaptersAddresses(GAA_FLAG_SKIP_ANYCAST | GAA_FLAG_SKIP_MULTICAST | GAA_FLAG_SKIP_DNS_SERVER);
    for (const auto* adapter = FirstAdapter(storage); adapter; adapter = adapter->Next)
        for (const auto* unicast = adapter->FirstUnicastAddress; unicast; unicast = unicast->Next)
            if (const auto address = FromSockaddr(unicast->Address.lpSockaddr)) out.push_back(*address);
    // The loopback addresses, whether or not IP Helper lists its adapter.
    constexpr std::array<std::uint8_t, Address::kV4Size> kLoopback4{127, 0, 0, 1};
    constexpr std::array<std::uint8_t, Address::kV6Size> kLoopback6{0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 1};
    for (const auto& loopback : {Address::V4(kLoopback4), Address::V6(kLoopback6)})
        if (std::find(out.begin(), out.end(), loopback) == out.end()) out.push_back(loopback);
    return out;
}

SocketHandle WinSockets::Socket(Address::Family family) {
    const SOCKET s = socket(family == Address::Family::V4 ? AF_INET : AF_INET6, SOCK_DGRAM, 0);
    return s == INVALID_SOCKET ? kNoSocket : static_cast<SocketHandle>(s);
}

int WinSockets::Connect(SocketHandle s, const Address& address, std::uint16_t port) {
    sockaddr_storage to;
    const int length = ToSockaddr(address, port, to);
    if (!length) return -1;
    return connect(static_cast<SOCKET>(s), reinterpret_cast<const sockaddr*>(&to), length) == 0 ? 0 : -1;
}

int WinSockets::Send(SocketHandle s, const std::uint8_t* data, int length) {
    const int n = send(static_cast<SOCKET>(s), reinterpret_cast<const char*>(data), length, 0);
    return n == SOCKET_ERROR ? -1 : n;
}

Received WinSockets::Receive(SocketHandle s, std::uint8_t* buffer, int capacity,
                        std::chrono::milliseconds wait) {
    fd_set readable;
    FD_ZERO(&readable);
    FD_SET(static_cast<SOCKET>(s), &readable);
    timeval limit{static_cast<long>(wait.count() / 1000), static_cast<long>((wait.count() % 1000) * 1000)};
    const int ready = select(0, &readable, nullptr, nullptr, &limit);
    if (ready == 0) return {Received::Kind::Timeout};
    if (ready < 0) return {Received::Kind::Failed};
    // A datagram longer than the buffer fails with WSAEMSGSIZE; the rest of
    // it is discarded, as for any datagram socket.
    const int n = recv(static_cast<SOCKET>(s), reinterpret_cast<char*>(buffer), capacity, 0);
    if (n != SOCKET_ERROR) return {Received::Kind::Datagram, n};
    return {WSAGetLastError() == WSAEMSGSIZE ? Received::Kind::TooLong : Received::Kind::Failed};
}

void WinSockets::Close(SocketHandle s) {
    if (s != kNoSocket) closesocket(static_cast<SOCKET>(s));
}

}  // namespace tarnwell::platform
