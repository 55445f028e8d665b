#pragma once
#include "platform/Sockets.h"

#include <winsock2.h>
#include <ws2tcpip.h>
// ws2tcpip.h names GetAddrInfoW so under UNICODE: the interface's call is meant.
#undef GetAddrInfo

namespace tarnwell::platform {

// The address of a socket address of either family; a scoped IPv6 address
// gets its interface index as its zone, as Windows writes it ("fe80::1%12").
std::optional<Address> FromSockaddr(const sockaddr* sa);

// The socket address of an address and port: its length, or 0 when the
// address has a zone that names no interface.
int ToSockaddr(const Address& address, std::uint16_t port, sockaddr_storage& out);

// Windows Sockets 2.2 (getaddrinfo and IPv6), with IP Helper for the
// adapters' addresses. Made, it starts Windows Sockets for the process
// (WSAStartup); gone, it ends that start (WSACleanup), if it succeeded.
class WinSockets : public Sockets {
public:
    WinSockets();
    ~WinSockets() override;
    WinSockets(const WinSockets&) = delete;
    WinSockets& operator=(const WinSockets&) = delete;
    int Start() override { return started_; }
    std::optional<std::vector<Address>> GetAddrInfo(const std::string& name) override;
    std::vector<Address> InterfaceAddresses() override;
    SocketHandle Socket(Address::Family family) override;
    int Connect(SocketHandle s, const Address& address, std::uint16_t port) override;
    int Send(SocketHandle s, const std::uint8_t* data, int length) override;
    Received Receive(SocketHandle s, std::uint8_t* buffer, int capacity,
                std::chrono::milliseconds wait) override;
    void Close(SocketHandle s) override;

private:
    int started_;  // WSAStartup's status
};

}  // namespace tarnwell::platform
