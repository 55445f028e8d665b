#include "resolve/DnsMessage.h"

#include "common/Failure.h"
#include "resolve/ByteReader.h"
#include "resolve/ByteWriter.h"

#include <algorithm>
#include <iterator>

namespace tarnwell::dns {

namespace {

constexpr std::uint16_t kTypeA = 1;
constexpr std::uint16_t kTypeCname = 5;
constexpr std::uint16_t kClassIn = 1;
constexpr std::uint16_t kFlagRecursionDesired = 0x0100;  // QR 0, opcode 0 (QUERY), RD 1
constexpr std::uint16_t kFlagResponse = 0x8000;
constexpr std::uint16_t kFlagTruncated = 0x0200;
constexpr std::uint16_t kRcodeMask = 0x000F;
constexpr std::size_t kPointerMask = 0x3FFF;

std::uint8_t AsciiLower(std::uint8_t b) {
    return (b >= 'A' && b <= 'Z') ? static_cast<std::uint8_t>(b + ('a' - 'A')) : b;
}

bool HostNameOctet(char c) {
    return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '-' || c == '_';
}

}  // namespace

std::vector<std::uint8_t> EncodeQName(std::string_view name) {
    if (name.empty()) throw Failure("the root is no host name");
    ByteWriter out(name.size() + 2);
    for (;;) {
        const auto dot = name.find('.');
        const auto label = name.substr(0, dot);
        if (label.empty()) throw Failure("empty label");
        if (label.size() > kMaxLabelOctets) throw Failure("label over 63 octets");
        if (!std::all_of(label.begin(), label.end(), HostNameOctet)) throw Failure("no host name octet");
        out.U8(static_cast<std::uint8_t>(label.size()));
        for (const char c : label) out.U8(static_cast<std::uint8_t>(c));
        if (dot == std::string_view::npos) break;
        name.remove_prefix(dot + 1);
    }
    out.U8(0);
    if (out.Size() > kMaxNameOctets) throw Failure("name over 255 octets");
    return out.Take();
}

// RFC 1035 section 4.1.1: ID, flags, QDCOUNT, ANCOUNT, NSCOUNT, ARCOUNT;
// section 4.1.2: QNAME, QTYPE, QCLASS.
std::vector<std::uint8_t> BuildQuery(std::span<const std::uint8_t> qname) {
    ByteWriter out(kHeaderSize + qname.size() + 4);
    out.U16(kQueryId);
    out.U16(kFlagRecursionDesired);
    out.U16(1);  // QDCOUNT
    out.U16(0);  // ANCOUNT
    out.U16(0);  // NSCOUNT
    out.U16(0);  // ARCOUNT
    out.Bytes(qname);
    out.U16(kTypeA);
    out.U16(kClassIn);
    return out.Take();
}

bool IsReplyTo(std::span<const std::uint8_t> datagram, std::span<const std::uint8_t> query) {
    if (datagram.size() < kHeaderSize || query.size() < kHeaderSize) return false;
    ByteReader reply(datagram);
    ByteReader ours(query);
    if (reply.U16() != ours.U16()) return false;
    const std::uint16_t flags = reply.U16();
    if (!(flags & kFlagResponse)) return false;
    const std::uint16_t qdcount = reply.U16();
    if (qdcount == 0) return (flags & kRcodeMask) != kNoError;
    if (qdcount != 1) return false;

    // Our question echoed: length octets (at most 63) and the QTYPE and
    // QCLASS octets are never ASCII letters, so folding the case of every
    // octet compares the names without regard to case and the rest exactly.
    const auto question = query.subspan(kHeaderSize);
    if (datagram.size() < kHeaderSize + question.size()) return false;
    return std::ranges::equal(datagram.subspan(kHeaderSize, question.size()), question, {},
                              AsciiLower, AsciiLower);
}

// RFC 1035 section 4.1.4: a length octet whose top two bits are 00 starts a
// label, 11 a pointer with a 14-bit offset "to a prior occurrence of the
// same name"; 01 and 10 are reserved. No name starts inside the header.
Name ReadName(std::span<const std::uint8_t> reply, std::size_t& position) {
    ByteReader reader(reply, position);
    Name name;
    std::optional<std::size_t> after;  // just past the first pointer
    for (;;) {
        const std::size_t at = reader.Position();
        const std::uint8_t length = reader.U8();
        if (length == 0) break;
        switch (length & 0xC0) {
            case 0xC0: {
                const std::size_t offset = ((length << 8) | reader.U8()) & kPointerMask;
                if (offset < kHeaderSize || offset >= at) throw Failure("pointer not to a prior occurrence");
                if (!after) after = reader.Position();
                reader.Seek(offset);
                break;
            }
            case 0x00: {
                // One octet is kept for the final zero.
                if (name.size + 1 + length + 1 > kMaxNameOctets) throw Failure("name over 255 octets");
                name.octets[name.size++] = length;
                for (const std::uint8_t b : reader.Bytes(length)) name.octets[name.size++] = AsciiLower(b);
                break;
            }
            default:
                throw Failure("reserved label type");
        }
    }
    name.octets[name.size++] = 0;
    position = after.value_or(reader.Position());
    return name;
}

Reading ReadReply(std::span<const std::uint8_t> reply) {
    Reading reading;
    ByteReader reader(reply);
    std::uint16_t flags = 0, ancount = 0;
    std::vector<Name> chain;  // the query name, then the CNAME targets it leads to
    try {
        reader.Skip(2);  // ID
        flags = reader.U16();
        if (reader.U16() != 1) return reading;  // QDCOUNT
        ancount = reader.U16();
        reader.Skip(4);  // NSCOUNT, ARCOUNT
        std::size_t position = reader.Position();
        chain.push_back(ReadName(reply, position));
        reader.Seek(position);
        reader.Skip(4);  // QTYPE, QCLASS
    } catch (const Failure&) {
        return reading;
    }
    reading.rcode = static_cast<std::uint8_t>(flags & kRcodeMask);
    if (reading.rcode != kNoError && reading.rcode != kNameError) return reading;
    reading.usable = true;

    try {
        for (unsigned read = 0; read < ancount; ++read) {
            // RFC 1035 section 4.1.3: NAME, TYPE, CLASS, TTL, RDLENGTH, RDATA.
            std::size_t position = reader.Position();
            const Name owner = ReadName(reply, position);
            reader.Seek(position);
            const std::uint16_t type = reader.U16();
            const std::uint16_t klass = reader.U16();
            reader.Skip(4);  // TTL
            const std::uint16_t length = reader.U16();
            std::size_t data = reader.Position();
            const auto rdata = reader.Bytes(length);
            if (klass != kClassIn) continue;
            if (type == kTypeA && length != 4) return reading;  // nothing after it can be trusted
            // Records about other names are no answer to our question.
            if (std::find(chain.begin(), chain.end(), owner) == chain.end()) continue;
            if (type == kTypeA && reading.rcode == kNoError) {
                reading.addresses.push_back({rdata[0], rdata[1], rdata[2], rdata[3]});
            } else if (type == kTypeCname) {
                const Name target = ReadName(reply, data);
                if (std::find(chain.begin(), chain.end(), target) == chain.end()) chain.push_back(target);
            }
        }
    } catch (const Failure&) {
        return reading;
    }
    reading.complete = !(flags & kFlagTruncated);
    return reading;
}

}  // namespace tarnwell::dns
