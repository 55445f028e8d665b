#include "resolve/DnsMessage.h"

#include "common/Failure.h"
#include "resolve/ByteReader.h"

#include <algorithm>
#include <iterator>

namespace tarnwell::dns {

namespace {

// RFC 1035 section 4.1.1: the header is six 16-bit fields.
struct Header {
    std::uint8_t id[2];
    std::uint8_t flags[2];
    std::uint8_t qdcount[2];
    std::uint8_t ancount[2];
    std::uint8_t nscount[2];
    std::uint8_t arcount[2];
};
static_assert(sizeof(Header) == kHeaderSize, "the DNS header is 12 bytes");

constexpr std::uint16_t kTypeA = 1;
constexpr std::uint16_t kClassIn = 1;
constexpr std::uint8_t kFlagsRecursionDesired = 0x01;  // first flags byte: QR 0, opcode 0, RD 1
constexpr std::uint16_t kFlagResponse = 0x8000;
constexpr std::uint16_t kFlagTruncated = 0x0200;
constexpr std::uint16_t kRcodeMask = 0x000F;
constexpr std::uint16_t kNoError = 0;
constexpr std::uint16_t kNameError = 3;  // NXDOMAIN
constexpr std::uint8_t kQuestionTail[] = {0, kTypeA, 0, kClassIn};

std::uint8_t AsciiLower(std::uint8_t b) {
    return (b >= 'A' && b <= 'Z') ? static_cast<std::uint8_t>(b + ('a' - 'A')) : b;
}

}  // namespace

std::vector<std::uint8_t> EncodeQName(std::string_view name) {
    if (name.find('\\') != std::string_view::npos) throw Failure("backslash in the name");
    if (name.ends_with('.')) name.remove_suffix(1);
    std::vector<std::uint8_t> out;
    while (!name.empty()) {
        const auto dot = name.find('.');
        const auto label = name.substr(0, dot);
        if (label.empty()) throw Failure("empty label");
        if (label.size() > kMaxLabelOctets) throw Failure("label over 63 octets");
        out.push_back(static_cast<std::uint8_t>(label.size()));
        out.insert(out.end(), label.begin(), label.end());
        if (dot == std::string_view::npos) break;
        name.remove_prefix(dot + 1);
        // The one trailing dot is gone already: another means an empty label.
        if (name.empty()) throw Failure("empty label");
    }
    out.push_back(0);
    if (out.size() > kMaxNameOctets) throw Failure("name over 255 octets");
    return out;
}

std::vector<std::uint8_t> BuildQuery(std::span<const std::uint8_t> qname) {
    Header header{};
    header.id[0] = kQueryId >> 8;
    header.id[1] = kQueryId & 0xFF;
    header.flags[0] = kFlagsRecursionDesired;
    header.qdcount[1] = 1;
    const auto* bytes = reinterpret_cast<const std::uint8_t*>(&header);
    std::vector<std::uint8_t> message(bytes, bytes + sizeof header);
    std::copy(qname.begin(), qname.end(), std::back_inserter(message));
    message.insert(message.end(), std::begin(kQuestionTail), std::end(kQuestionTail));
    return message;
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
// same name"; 01 and 10 are reserved.
void ReadName(std::span<const std::uint8_t> reply, std::size_t& position) {
    ByteReader reader(reply, position);
    std::size_t octets = 1;  // the final zero
    std::optional<std::size_t> after;  // just past the first pointer
    for (;;) {
        const std::size_t at = reader.Position();
        const std::uint8_t length = reader.U8();
        if (length == 0) break;
        switch (length & 0xC0) {
            case 0xC0: {
                const std::size_t offset = ((length & 0x3F) << 8) | reader.U8();
                if (offset >= at) throw Failure("pointer not to a prior occurrence");
                if (!after) after = reader.Position();
                reader.Seek(offset);
                break;
            }
            case 0x00:
                octets += 1 + length;
                if (octets > kMaxNameOctets) throw Failure("name over 255 octets");
                reader.Skip(length);
                break;
            default:
                throw Failure("reserved label type");
        }
    }
    position = after.value_or(reader.Position());
}

std::optional<std::vector<Ipv4>> UsableAddresses(std::span<const std::uint8_t> reply) {
    ByteReader reader(reply);
    std::uint16_t flags = 0, ancount = 0;
    try {
        reader.Skip(2);  // ID
        flags = reader.U16();
        if (reader.U16() != 1) return std::nullopt;  // QDCOUNT
        ancount = reader.U16();
        reader.Skip(4);  // NSCOUNT, ARCOUNT
        std::size_t position = reader.Position();
        ReadName(reply, position);
        reader.Seek(position);
        reader.Skip(4);  // QTYPE, QCLASS
    } catch (const Failure&) {
        return std::nullopt;
    }
    const std::uint16_t rcode = flags & kRcodeMask;
    if (rcode != kNoError && rcode != kNameError) return std::nullopt;

    std::vector<Ipv4> addresses;
    unsigned read = 0;
    try {
        for (; read < ancount; ++read) {
            // RFC 1035 section 4.1.3: NAME, TYPE, CLASS, TTL, RDLENGTH, RDATA.
            std::size_t at = reader.Position();
            ReadName(reply, at);
            reader.Seek(at);
            const std::uint16_t type = reader.U16();
            const std::uint16_t klass = reader.U16();
            reader.Skip(4);  // TTL
            const std::uint16_t length = reader.U16();
            const auto data = reader.Bytes(length);
            if (type == kTypeA && klass == kClassIn && length == 4)
                addresses.push_back({data[0], data[1], data[2], data[3]});
        }
    } catch (const Failure&) {
        // Reading stops at the first record that does not fit; when even the
        // first does not, the reply says nothing.
        if (read == 0) return std::nullopt;
    }
    if ((flags & kFlagTruncated) && addresses.empty()) return std::nullopt;
    return addresses;
}

}  // namespace tarnwell::dns
