#pragma once
#include "platform/Sockets.h"
#include "platform/Toolkit.h"
#include "resolve/CheckState.h"

#include <chrono>
#include <cstdint>
#include <span>
#include <string>
#include <vector>

namespace tarnwell {

// One character of an encoded question name: a label's length character
// (its count, 0 to 255) or a character of the domain text.
struct QChar {
    char32_t ch;
    bool isLength;
    bool operator==(const QChar&) const = default;
};
using QName = std::vector<QChar>;

inline constexpr std::uint16_t kQueryId = 4575;
inline constexpr std::uint16_t kDnsPort = 53;
inline constexpr std::size_t kHeaderSize = 12;
inline constexpr std::size_t kMessageCapacity = 4001;  // positions 0 to 4000
inline constexpr std::size_t kReceiveCapacity = 2048;
// The whole wait for the reply, however many stray datagrams arrive: the
// system resolver's own default time-out.
inline constexpr std::chrono::milliseconds kReplyWait{5000};

// Everything a query needs besides the domain and the server text.
struct QueryContext {
    platform::Sockets& sockets;
    CheckState& state;
    platform::TextBox& report;
    std::chrono::milliseconds wait = kReplyWait;
    std::uint16_t port = kDnsPort;  // tests point it at their own server
};

// The label sequence of the question for a domain text: per label its
// length character and its characters, no final zero. Throws Failure for a
// label longer than 255 characters.
QName EncodeQName(const std::string& domain);

// The query message for a domain text (in its IDNA ASCII form when it has
// one, see LookupName): header (identifier 4575, recursion
// desired, one question), the name, QTYPE A, QCLASS IN; 17 + L bytes.
std::vector<std::uint8_t> BuildQuery(const std::string& domain);

// The server's IPv4 address: the dotted text itself, or the first address
// the computer's resolver gives for a host name; nothing when there is none.
std::optional<platform::Ipv4> ServerAddress(platform::Sockets& sockets, const std::string& server);

enum class ReplyKind {
    Stray,          // not the reply to this query: dropped, the wait goes on
    Answer,         // the reply, with our question
    HeaderOnlyError // our identifier, an error code and no question
};

// Whether a received datagram is the reply to `query`.
ReplyKind ClassifyReply(std::span<const std::uint8_t> datagram,
                        std::span<const std::uint8_t> query);

// Moves `position` past a domain name (RFC 1035 section 4.1.4). Throws
// Failure for a reserved length prefix, a pointer loop, a name of more than
// 255 octets, or a read past the datagram.
void ReadName(std::span<const std::uint8_t> reply, std::size_t& position);

// Reads the answer section: one report line per A record of class IN, and
// IpMatch when an address equals HostIP. Throws Failure at the first record
// that does not fit in the datagram; lines already written stay.
void ReadAnswers(std::span<const std::uint8_t> reply, std::size_t position,
                 std::uint16_t answerCount, CheckState& state, platform::TextBox& report);

// Sends one query for the domain to the server and reads the reply. Its
// effects are the report lines and IpMatch; the result is always empty.
std::string QueryDnsServer(const std::string& domain, const std::string& server,
                           QueryContext& context);

}  // namespace tarnwell
