#include "platform/posix/PosixSockets.h"

#include <algorithm>
#include <arpa/inet.h>
#include <cerrno>
#include <cstring>
#include <ifaddrs.h>
#include <net/if.h>
#include <netdb.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

namespace tarnwell::platform {

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
        char name[IF_NAMESIZE] = {};
        const bool zoned = sin6->sin6_scope_id != 0 && if_indextoname(sin6->sin6_scope_id, name);
        return Address::V6(bytes, zoned ? name : "");
    }
    return std::nullopt;
}

unsigned ToSockaddr(const Address& address, std::uint16_t port, sockaddr_storage& out) {
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
        // RFC 4007 section 11.2: a zone is an interface's name or index.
        const auto& zone = address.Zone();
        sin6->sin6_scope_id = if_nametoindex(zone.c_str());
        if (!sin6->sin6_scope_id && std::all_of(zone.begin(), zone.end(), [](char c) { return c >= '0' && c <= '9'; }))
            sin6->sin6_scope_id = static_cast<std::uint32_t>(std::strtoul(zone.c_str(), nullptr, 10));
        if (!sin6->sin6_scope_id) return 0;
    }
    return sizeof *sin6;
}

// The same getaddrinfo walk as WinSockets.cpp: written twice, since the two stand on
// different system headers (netdb.h, ws2tcpip.h) and no file includes both.
std::optional<std::vector<Address>> PosixSockets::GetAddrInfo(const std::string& name) {
    // The road a browser takes: getaddrinfo honours the hosts file and the
    // name service switch. One entry per address (stream sockets only, so
    // each address is not listed once per socket type).
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

std::vector<Address> PosixSockets::InterfaceAddresses() {
    std::vector<Address> out;
    ifaddrs* list = nullptr;
    if (getifaddrs(&list) != 0) return out;
    for (const ifaddrs* i = list; i; i = i->ifa_next)
        if (const auto address = FromSockaddr(i->ifa_addr)) out.push_back(*address);
    freeifaddrs(list);
    return out;
}

SocketHandle PosixSockets::Socket(Address::Family family) {
    const int fd = ::socket(family == Address::Family::V4 ? AF_INET : AF_INET6, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    return fd < 0 ? kNoSocket : fd;
}

int PosixSockets::Connect(SocketHandle s, const Address& address, std::uint16_t port) {
    sockaddr_storage to;
    const unsigned length = ToSockaddr(address, port, to);
    if (!length) return -1;
    return ::connect(static_cast<int>(s), reinterpret_cast<const sockaddr*>(&to), length) == 0 ? 0 : -1;
}

int PosixSockets::Send(SocketHandle s, const std::uint8_t* data, int length) {
    const ssize_t n = ::send(static_cast<int>(s), data, static_cast<std::size_t>(length), MSG_NOSIGNAL);
    return n < 0 ? -1 : static_cast<int>(n);
}

Received PosixSockets::Receive(SocketHandle s, std::uint8_t* buffer, int capacity,
                          std::chrono::milliseconds wait) {
    pollfd p{static_cast<int>(s), POLLIN, 0};
    int ready;
    do {
        ready = ::poll(&p, 1, static_cast<int>(wait.count()));
    } while (ready < 0 && errno == EINTR);
    if (ready == 0) return {Received::Kind::Timeout};
    if (ready < 0) return {Received::Kind::Failed};
    // MSG_TRUNC gives the datagram's real length, so that one longer than
    // the buffer is told apart, as Windows Sockets tells it with WSAEMSGSIZE.
    const ssize_t n = ::recv(static_cast<int>(s), buffer, static_cast<std::size_t>(capacity), MSG_TRUNC);
    if (n < 0) return {Received::Kind::Failed};
    if (n > capacity) return {Received::Kind::TooLong};
    return {Received::Kind::Datagram, static_cast<int>(n)};
}

void PosixSockets::Close(SocketHandle s) {
    if (s != kNoSocket) ::close(static_cast<int>(s));
}

}  // namespace tarnwell::platform
