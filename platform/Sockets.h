#pragma once
#include "common/Address.h"

#include <chrono>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace tarnwell::platform {

using tarnwell::Address;

using SocketHandle = std::intptr_t;
inline constexpr SocketHandle kNoSocket = -1;

// What one wait for a datagram gave.
struct Received {
    enum class Kind {
        Datagram,  // `length` bytes are in the buffer
        TooLong,   // a datagram longer than the buffer came and was dropped
        Timeout,   // the wait passed with none
        Failed     // the receive failed (an ICMP port unreachable, say)
    };
    Kind kind = Kind::Failed;
    int length = 0;
};

// The computer's sockets library. Every call blocks until it has its result.
class Sockets {
public:
    virtual ~Sockets() = default;

    // The library is started when this object is made and ended when it
    // goes. Start gives that start's status: 0 when sockets can be used,
    // else the system's error code.
    virtual int Start() = 0;

    // The computer's own resolver (hosts file and local name service
    // included) for an 8-bit host name, asked as a browser asks it: both
    // families in one lookup (getaddrinfo with AF_UNSPEC and AI_ADDRCONFIG,
    // so that a family the computer has no address of is not asked). Every
    // address once, in the resolver's order, which is the order a browser
    // tries them (RFC 6724); nothing when the name does not resolve.
    virtual std::optional<std::vector<Address>> GetAddrInfo(const std::string& name) = 0;

    // The addresses of the computer's own network interfaces, loopback ones
    // included.
    virtual std::vector<Address> InterfaceAddresses() = 0;

    // A UDP socket of the family, or kNoSocket.
    virtual SocketHandle Socket(Address::Family family) = 0;

    // Fixes the one peer of the socket, so that datagrams from any other
    // address or port never reach Receive; a zone names the interface of a
    // scoped address. 0 on success, -1 on failure.
    virtual int Connect(SocketHandle s, const Address& address, std::uint16_t port) = 0;

    // Sends one datagram to the connected peer: bytes sent, or -1.
    virtual int Send(SocketHandle s, const std::uint8_t* data, int length) = 0;

    // Waits at most `wait` for one datagram of at most `capacity` bytes.
    virtual Received Receive(SocketHandle s, std::uint8_t* buffer, int capacity,
                        std::chrono::milliseconds wait) = 0;

    virtual void Close(SocketHandle s) = 0;
};

}  // namespace tarnwell::platform
