#pragma once
#include "common/Text.h"

#include <array>
#include <chrono>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace tarnwell::platform {

using tarnwell::Ipv4;

using SocketHandle = std::intptr_t;
inline constexpr SocketHandle kNoSocket = -1;
inline constexpr int kDatagramTooLong = -2;

// The computer's sockets library. Every call blocks until it has its result.
class Sockets {
public:
    virtual ~Sockets() = default;

    // Start and end the library (version 1.0 requested where that means
    // anything). Start gives 0 when sockets can be used.
    virtual int Start() = 0;
    virtual void End() = 0;

    // The computer's own resolver (hosts file and local name service
    // included) for an 8-bit host name: its IPv4 addresses in the resolver's
    // order, or nothing when the name does not resolve.
    virtual std::optional<std::vector<Ipv4>> GetHostByName(const std::string& name) = 0;

    // Parses a dotted IPv4 text; the address as a 32-bit value whose bytes in
    // memory are in network order, or -1 (all bits set) when it is none.
    virtual std::int32_t InetAddr(const std::string& text) = 0;

    // A UDP socket for IPv4, or kNoSocket.
    virtual SocketHandle Socket() = 0;

    // Fixes the one peer of the socket, so that datagrams from any other
    // address or port never reach Receive. 0 on success, -1 on failure.
    virtual int Connect(SocketHandle s, const Ipv4& address, std::uint16_t port) = 0;

    // Sends one datagram to the connected peer: bytes sent, or -1.
    virtual int Send(SocketHandle s, const std::uint8_t* data, int length) = 0;

    // Waits at most `wait` for one datagram of at most `capacity` bytes.
    // Gives its length; kDatagramTooLong for a datagram longer than
    // `capacity`, which is dropped; -1 on a failed receive and when the wait
    // passes with none.
    virtual int Receive(SocketHandle s, std::uint8_t* buffer, int capacity,
                        std::chrono::milliseconds wait) = 0;

    virtual void Close(SocketHandle s) = 0;
};

}  // namespace tarnwell::platform
