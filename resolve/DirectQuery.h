#pragma once
#include "common/Address.h"
#include "platform/Serve.h"
#include "platform/Sockets.h"

#include <chrono>
#include <cstdint>
#include <functional>
#include <optional>
#include <span>
#include <vector>

// The direct query: A and AAAA questions sent over UDP straight to the
// configured DNS server (RFC 1035 section 4.2.1), their replies read.
namespace tarnwell {

inline constexpr std::uint16_t kDnsPort = 53;
// Any UDP datagram fits (RFC 768: 65,535 octets with the headers).
inline constexpr std::size_t kReceiveCapacity = 65536;
// The whole wait for the replies, however many queries and stray datagrams:
// the system resolver's own default time-out.
inline constexpr std::chrono::milliseconds kReplyWait{5000};
// Queries of one type sent at most: the first, and again while an address
// of the computer's of that family is missing from the replies (round-robin
// servers answer one address of several at a time).
inline constexpr int kMaxQueries = 3;

// What the replies to the queries of one type said.
struct Replies {
    bool asked = false;      // a query of this type was sent
    int complete = 0;        // usable, complete replies read
    bool incomplete = false; // a usable reply could not be read whole
    // Every reply read was complete, and there was one: the evidence of a
    // mismatch (RFC 2181 section 9).
    bool Whole() const { return complete > 0 && !incomplete; }
};

// What the direct query found.
struct DirectAnswer {
    bool sent = false;                  // a query left the socket
    Replies a, aaaa;                    // of the A and the AAAA queries
    std::optional<std::uint8_t> rcode;  // of the last usable reply
    std::vector<Address> addresses;     // of every reply read, each once, in order: A, then AAAA
    const Replies& Of(const Address& address) const { return address.IsV4() ? a : aaaa; }
};

// Everything a query needs besides the name, the server and the computer's addresses.
struct QueryContext {
    platform::Sockets& sockets;
    std::chrono::milliseconds wait = kReplyWait;
    std::uint16_t port = kDnsPort;  // tests point it at their own server
    // Called between slices of every wait when set (a window served while it waits).
    platform::Serve serve;
    // Hears of each address as it is read, the first time.
    std::function<void(const Address&)> found;
};

// Sends the A query for `qname` to the server and reads the replies, then,
// when the computer has an IPv6 address, the AAAA query; each asked again
// on a fresh socket while an address of `computer` of its family is
// missing, all within the one wait.
DirectAnswer QueryServer(std::span<const std::uint8_t> qname, const Address& server,
                         const std::vector<Address>& computer, const QueryContext& context);

}  // namespace tarnwell
