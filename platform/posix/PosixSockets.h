#pragma once
#include "platform/Sockets.h"

#include <sys/socket.h>

namespace tarnwell::platform {

// BSD sockets and the C library's resolver, which need no start.
class PosixSockets : public Sockets {
public:
    int Start() override { return 0; }
    std::optional<std::vector<Address>> GetAddrInfo(const std::string& name) override;
    std::vector<Address> InterfaceAddresses() override;
    SocketHandle Socket(Address::Family family) override;
    int Connect(SocketHandle s, const Address& address, std::uint16_t port) override;
    int Send(SocketHandle s, const std::uint8_t* data, int length) override;
    Received Receive(SocketHandle s, std::uint8_t* buffer, int capacity,
                std::chrono::milliseconds wait) override;
    void Close(SocketHandle s) override;
};

// The address of a socket address of either family, or nothing for another
// family.
std::optional<Address> FromSockaddr(const sockaddr* sa);
// The socket address for an address and port: a zone becomes the scope
// identifier of its interface. Gives its length, 0 for an unknown zone.
unsigned ToSockaddr(const Address& address, std::uint16_t port, sockaddr_storage& out);

}  // namespace tarnwell::platform
