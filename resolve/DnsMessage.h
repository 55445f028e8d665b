#pragma once
#include "common/Text.h"

#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string_view>
#include <vector>

// The DNS message format (RFC 1035 section 4): pure functions over bytes,
// apart from the transport that sends and receives them.
namespace tarnwell::dns {

inline constexpr std::uint16_t kQueryId = 4575;
inline constexpr std::size_t kHeaderSize = 12;
inline constexpr std::size_t kMaxLabelOctets = 63;   // RFC 1035 section 2.3.4
inline constexpr std::size_t kMaxNameOctets = 255;  // length octets and final zero included

// The question name in wire form (RFC 1035 section 3.1) for an 8-bit name:
// each label as its length octet and its octets, then the final zero. A
// single trailing dot, the fully qualified form, is dropped, as the system
// resolver drops it; the empty name is the root. Throws Failure for a name
// the DNS cannot carry: an empty label, a label over 63 octets, a name over
// 255 octets, or a backslash, which the system resolver reads as an escape
// and would so ask for another name.
std::vector<std::uint8_t> EncodeQName(std::string_view name);

// RFC 1035 sections 4.1.1 and 4.1.2: the query message, identifier 4575,
// recursion desired, one question: `qname` (wire form), QTYPE A, QCLASS IN.
std::vector<std::uint8_t> BuildQuery(std::span<const std::uint8_t> qname);

// Whether a datagram is the reply to `query` (RFC 5452 section 9.1): our
// identifier, QR set, and our question (the name compared without regard to
// ASCII case, RFC 4343), or no question at all with an error code.
bool IsReplyTo(std::span<const std::uint8_t> datagram, std::span<const std::uint8_t> query);

// Moves `position` past a domain name (RFC 1035 section 4.1.4). Throws
// Failure for a reserved label type, a pointer that does not point to a
// prior occurrence (which also rules out loops), a name over 255 octets, or
// a read past the datagram.
void ReadName(std::span<const std::uint8_t> reply, std::size_t& position);

// The addresses of a reply to our query (RFC 1035 section 4.1.3: the A
// records of class IN with four octets of data, in order, up to the first
// record that cannot be read), or nothing when the reply is of no use: an
// RCODE other than NOERROR and NXDOMAIN, no question, a first answer record
// that cannot be read, or the TC bit set while it carries no address.
std::optional<std::vector<Ipv4>> UsableAddresses(std::span<const std::uint8_t> reply);

}  // namespace tarnwell::dns
