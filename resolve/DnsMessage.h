#pragma once
#include "common/Address.h"

#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string_view>
#include <vector>

// The DNS message format (RFC 1035 section 4): pure functions over bytes,
// apart from the transport that sends and receives them.
namespace tarnwell::dns {

// The identifiers of the queries, one per type asked. They need not be
// unpredictable: the reply is read from a connected socket on a port of the
// system's choosing and must echo the question (RFC 5452 section 9.1), so a
// fixed one costs nothing.
inline constexpr std::uint16_t kQueryId = 4575;      // type A
inline constexpr std::uint16_t kQueryIdAaaa = 4576;  // type AAAA
inline constexpr std::size_t kHeaderSize = 12;
inline constexpr std::size_t kMaxLabelOctets = 63;   // RFC 1035 section 2.3.4
inline constexpr std::size_t kMaxNameOctets = 255;  // length octets and final zero included

inline constexpr std::uint8_t kNoError = 0;
inline constexpr std::uint8_t kNameError = 3;  // NXDOMAIN

inline constexpr std::uint16_t kTypeA = 1;
inline constexpr std::uint16_t kTypeCname = 5;
inline constexpr std::uint16_t kTypeAaaa = 28;  // RFC 3596
inline constexpr std::uint16_t kClassIn = 1;

// RFC 1035 section 4.1.1:
//                                 1  1  1  1  1  1
//   0  1  2  3  4  5  6  7  8  9  0  1  2  3  4  5
// +--+--+--+--+--+--+--+--+--+--+--+--+--+--+--+--+
// |                      ID                       |
// +--+--+--+--+--+--+--+--+--+--+--+--+--+--+--+--+
// |QR|   Opcode  |AA|TC|RD|RA|   Z    |   RCODE   |
// +--+--+--+--+--+--+--+--+--+--+--+--+--+--+--+--+
// |                    QDCOUNT                    |
// |                    ANCOUNT                    |
// |                    NSCOUNT                    |
// |                    ARCOUNT                    |
// +--+--+--+--+--+--+--+--+--+--+--+--+--+--+--+--+
struct Header {
    std::uint16_t id = 0;
    bool qr = false;
    std::uint8_t opcode = 0;  // 4 bits
    bool aa = false, tc = false, rd = false, ra = false;
    std::uint8_t z = 0;       // 3 bits
    std::uint8_t rcode = 0;   // 4 bits
    std::uint16_t qdcount = 0, ancount = 0, nscount = 0, arcount = 0;
    bool operator==(const Header&) const = default;
};

// The header at the start of a message; throws Failure when the message is
// shorter than a header.
Header ReadHeader(std::span<const std::uint8_t> message);
// The header's twelve octets.
std::array<std::uint8_t, kHeaderSize> WriteHeader(const Header& header);

// The question name in wire form (RFC 1035 section 3.1) for a host name:
// each label as its length octet and its octets, then the final zero.
// Throws Failure for a name that is no host name: the root or an empty
// label, a label over 63 octets, a name over 255 octets, or an octet other
// than a letter, digit, hyphen or underscore (RFC 952, RFC 1123 section
// 2.1; underscores as service labels use them).
std::vector<std::uint8_t> EncodeQName(std::string_view name);

// RFC 1035 sections 4.1.1 and 4.1.2: the query message, recursion desired,
// one question: `qname` (wire form), `qtype`, QCLASS IN; the identifier is
// 4575 for type A and 4576 for type AAAA, or `id` when given (0 over
// HTTPS, RFC 8484 section 4.1, for the replies to be cached).
std::vector<std::uint8_t> BuildQuery(std::span<const std::uint8_t> qname, std::uint16_t qtype = kTypeA,
                                     std::optional<std::uint16_t> id = std::nullopt);

// Whether a datagram is the reply to `query` (RFC 5452 section 9.1): our
// identifier, QR set, and our question (the name compared without regard to
// ASCII case, RFC 4343), or no question at all with an error code.
bool IsReplyTo(std::span<const std::uint8_t> datagram, std::span<const std::uint8_t> query);

// A domain name in uncompressed wire form with ASCII letters in lower case,
// for comparing names without regard to case (RFC 4343).
struct Name {
    std::array<std::uint8_t, kMaxNameOctets> octets{};
    std::size_t size = 0;
    bool operator==(const Name& other) const {
        return size == other.size && std::equal(octets.begin(), octets.begin() + size, other.octets.begin());
    }
};

// Reads the domain name at `position` and moves `position` past it (RFC
// 1035 section 4.1.4). Throws Failure for a reserved label type, a pointer
// into the header or not to a prior occurrence (which also rules out
// loops), a name over 255 octets, or a read past the datagram.
Name ReadName(std::span<const std::uint8_t> reply, std::size_t& position);

// What a reply to our query says.
struct Reading {
    // RCODE NOERROR or NXDOMAIN with one readable question: the server
    // answered the question.
    bool usable = false;
    // Usable, TC clear, every one of ANCOUNT answer records read within the
    // datagram, every A record of class IN with 4 octets of data and every
    // AAAA record with 16: the whole answer (RFC 2181 section 9: a truncated
    // one is not).
    bool complete = false;
    std::uint8_t rcode = 0;
    // The address records of class IN of the question's type (A or AAAA)
    // about the query name or a name its CNAME chain leads to, in reply
    // order, up to the first fault; none for NXDOMAIN.
    std::vector<Address> addresses;
};

Reading ReadReply(std::span<const std::uint8_t> reply);

}  // namespace tarnwell::dns
