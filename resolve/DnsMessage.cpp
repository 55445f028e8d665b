#include "resolve/DnsMessage.h"

#include "common/Failure.h"
#include "resolve/ByteReader.h"
#include "resolve/ByteWriter.h"

#include <algorithm>
#include <iterator>

namespace tarnwell::dns {

namespace {

constexpr std::size_t kPointerMask = 0x3FFF;

// The octets of an address record's data for its type, or 0 for another type.
std::size_t AddressLength(std::uint16_t type) {
    return type == kTypeA ? Address::kV4Size : type == kTypeAaaa ? Address::kV6Size : 0;
}

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

Header ReadHeader(std::span<const std::uint8_t> message) {
    ByteReader in(message);
    Header h;
    h.id = in.U16();
    const std::uint16_t flags = in.U16();
    h.qr = flags >> 15 & 1;
    h.opcode = static_cast<std::uint8_t>(flags >> 11 & 0xF);
    h.aa = flags >> 10 & 1;
    h.tc = flags >> 9 & 1;
    h.rd = flags >> 8 & 1;
    h.ra = flags >> 7 & 1;
    h.z = static_cast<std::uint8_t>(flags >> 4 & 0x7);
    h.rcode = static_cast<std::uint8_t>(flags & 0xF);
    h.qdcount = in.U16();
    h.ancount = in.U16();
    h.nscount = in.U16();
    h.arcount = in.U16();
    return h;
}

std::array<std::uint8_t, kHeaderSize> WriteHeader(const Header& h) {
    ByteWriter out(kHeaderSize);
    out.U16(h.id);
    out.U16(static_cast<std::uint16_t>(h.qr << 15 | (h.opcode & 0xF) << 11 | h.aa << 10 | h.tc << 9 | h.rd << 8 |
                                       h.ra << 7 | (h.z & 0x7) << 4 | (h.rcode & 0xF)));
    for (const std::uint16_t count : {h.qdcount, h.ancount, h.nscount, h.arcount}) out.U16(count);
    std::array<std::uint8_t, kHeaderSize> octets{};
    const auto written = out.Take();
    std::copy(written.begin(), written.end(), octets.begin());
    return octets;
}

// RFC 1035 section 4.1.2: the question, QNAME, QTYPE, QCLASS, after the header.
std::vector<std::uint8_t> BuildQuery(std::span<const std::uint8_t> qname, std::uint16_t qtype,
                                     std::optional<std::uint16_t> id) {
    ByteWriter out(kHeaderSize + qname.size() + 4);
    Header header;
    header.id = id.value_or(qtype == kTypeAaaa ? kQueryIdAaaa : kQueryId);
    header.rd = true;
    header.qdcount = 1;
    out.Bytes(WriteHeader(header));
    out.Bytes(qname);
    out.U16(qtype);
    out.U16(kClassIn);
    return out.Take();
}

bool IsReplyTo(std::span<const std::uint8_t> datagram, std::span<const std::uint8_t> query) {
    if (datagram.size() < kHeaderSize || query.size() < kHeaderSize) return false;
    const Header reply = ReadHeader(datagram);
    if (reply.id != ReadHeader(query).id || !reply.qr) return false;
    if (reply.qdcount == 0) return reply.rcode != kNoError;
    if (reply.qdcount != 1) return false;

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
    Header header;
    std::uint16_t qtype = 0;
    std::vector<Name> chain;  // the query name, then the CNAME targets it leads to
    try {
        header = ReadHeader(reply);
        if (header.qdcount != 1) return reading;
        std::size_t position = kHeaderSize;
        chain.push_back(ReadName(reply, position));
        reader.Seek(position);
        qtype = reader.U16();
        reader.Skip(2);  // QCLASS
    } catch (const Failure&) {
        return reading;
    }
    reading.rcode = header.rcode;
    if (reading.rcode != kNoError && reading.rcode != kNameError) return reading;
    reading.usable = true;

    try {
        for (unsigned read = 0; read < header.ancount; ++read) {
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
            const std::size_t size = AddressLength(type);
            if (size && length != size) return reading;  // nothing after it can be trusted
            // Records about other names are no answer to our question.
            if (std::find(chain.begin(), chain.end(), owner) == chain.end()) continue;
            if (type == qtype && size && reading.rcode == kNoError) {
                reading.addresses.push_back(size == Address::kV4Size ? Address::V4(rdata.first<Address::kV4Size>())
                                                                     : Address::V6(rdata.first<Address::kV6Size>()));
            } else if (type == kTypeCname) {
                const Name target = ReadName(reply, data);
                if (std::find(chain.begin(), chain.end(), target) == chain.end()) chain.push_back(target);
            }
        }
    } catch (const Failure&) {
        return reading;
    }
    reading.complete = !header.tc;
    return reading;
}

}  // namespace tarnwell::dns
