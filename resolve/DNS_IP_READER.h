#pragma once
#include "platform/Sockets.h"
#include "platform/Widgets.h"
#include "resolve/CheckState.h"
#include "resolve/DnsMessage.h"

#include <chrono>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <vector>

namespace tarnwell {

inline constexpr std::uint16_t kDnsPort = 53;
// Any UDP datagram fits (RFC 768: 65,535 octets with the headers).
inline constexpr std::size_t kReceiveCapacity = 65536;
// The whole wait for the replies, however many queries and stray datagrams:
// the system resolver's own default time-out.
inline constexpr std::chrono::milliseconds kReplyWait{5000};
// Queries sent at most: the first, and again while complete replies share
// no address with the computer (round-robin servers answer one address of
// several at a time).
inline constexpr int kMaxQueries = 3;

// Everything a query needs besides the name and the server text.
struct QueryContext {
    platform::Sockets& sockets;
    CheckState& state;
    platform::TextBox& report;
    std::chrono::milliseconds wait = kReplyWait;
    std::uint16_t port = kDnsPort;  // tests point it at their own server
};

// What the direct query found.
struct DirectAnswer {
    std::optional<Ipv4> server;        // the server's address
    bool sent = false;                 // a query left the socket
    int complete = 0;                  // usable, complete replies read
    bool incomplete = false;           // a usable reply could not be read whole
    std::optional<std::uint8_t> rcode; // of the last usable reply
    std::vector<Ipv4> addresses;       // of every reply read, each once, in order
};

enum class Verdict { Match, Mismatch, Inconclusive };

// The verdict of a query: a match when an address equals one of the
// computer's, whatever else the replies say (addresses read before a fault
// are trustworthy); a mismatch only on the evidence of complete replies and
// of no incomplete one; otherwise nothing to compare.
Verdict Decide(const DirectAnswer& answer, bool ipMatch);

// The server's IPv4 address: the dotted text itself, or the first address
// the computer's resolver gives for a host name; nothing when there is none.
std::optional<Ipv4> ServerAddress(platform::Sockets& sockets, const std::string& server);

// One step over a reply read: adds its addresses not listed yet to the
// answer and one report line each, and sets IpMatch when one equals an
// address of the computer's.
void ReadAnswers(const dns::Reading& reading, DirectAnswer& answer, CheckState& state, platform::TextBox& report);

// Sends the query for `qname` to the server and reads the replies, asking
// again on a fresh socket while complete replies share no address with the
// computer, all within the one wait.
DirectAnswer QueryDnsServer(std::span<const std::uint8_t> qname, const std::string& server, QueryContext& context);

}  // namespace tarnwell
