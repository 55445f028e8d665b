#include "resolve/DNS_IP_READER.h"

#include "platform/CodePage.h"
#include "resolve/ByteReader.h"
#include "resolve/DNS_HostByName.h"
#include "resolve/Report.h"
#include "resolve/Resume.h"
#include "common/Text.h"

#include <array>
#include <cstring>

namespace tarnwell {

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
constexpr std::uint16_t kRcodeMask = 0x000F;
constexpr std::size_t kMaxNameOctets = 255;  // RFC 1035 section 2.3.4

// Closes the socket of one query on every path out of it.
class SocketGuard {
public:
    SocketGuard(platform::Sockets& sockets, platform::SocketHandle handle)
        : sockets_(sockets), handle_(handle) {}
    ~SocketGuard() { sockets_.Close(handle_); }
    SocketGuard(const SocketGuard&) = delete;
    SocketGuard& operator=(const SocketGuard&) = delete;

private:
    platform::Sockets& sockets_;
    platform::SocketHandle handle_;
};

std::uint8_t AsciiLower(std::uint8_t b) {
    return (b >= 'A' && b <= 'Z') ? static_cast<std::uint8_t>(b + ('a' - 'A')) : b;
}

}  // namespace

QName EncodeQName(const std::string& domain) {
    QName result;
    QName label;
    auto close = [&] {
        if (label.size() > 255) throw Failure("label longer than 255 characters");
        result.push_back({static_cast<char32_t>(label.size()), true});
        result.insert(result.end(), label.begin(), label.end());
        label.clear();
    };
    for (char32_t ch : text::Decode(domain)) {
        if (ch == U'.')
            close();
        else
            label.push_back({ch, false});
    }
    close();
    return result;
}

std::vector<std::uint8_t> BuildQuery(const std::string& domain) {
    Header header{};
    header.id[0] = kQueryId >> 8;
    header.id[1] = kQueryId & 0xFF;
    header.flags[0] = kFlagsRecursionDesired;
    header.qdcount[1] = 1;

    // Positions past the buffer's last one (4000) stay unwritten; the
    // message keeps its length of 17 + L with zeros there.
    std::vector<std::uint8_t> message(kMessageCapacity, 0);
    auto store = [&](int position, std::uint8_t byte) {
        if (position >= 0 && position < static_cast<int>(kMessageCapacity))
            message[static_cast<std::size_t>(position)] = byte;
    };

    std::int16_t p = 0;
    std::memcpy(message.data(), &header, sizeof header);
    p = Add16(p, kHeaderSize);

    QName q;
    Step([&] { q = EncodeQName(LookupName(domain)); });
    const int length = static_cast<int>(q.size());
    for (int i = 0; i < length; ++i) {
        // A character without a one-byte code leaves its position zero.
        const QChar c = q[static_cast<std::size_t>(i)];
        if (c.isLength) {
            store(p + i, static_cast<std::uint8_t>(c.ch));
        } else if (const auto byte = platform::AnsiByte(c.ch)) {
            store(p + i, *byte);
        }
    }
    Step([&] { p = Add16(p, length); });

    // RFC 1035 section 4.1.2: the name's final zero, QTYPE, QCLASS.
    const std::uint8_t tail[] = {0, 0, kTypeA, 0, kClassIn};
    for (std::uint8_t byte : tail) {
        Step([&] {
            store(p, byte);
            p = Add16(p, 1);
        });
    }
    message.resize(static_cast<std::size_t>(p), 0);
    return message;
}

std::optional<platform::Ipv4> ServerAddress(platform::Sockets& sockets, const std::string& server) {
    const std::int32_t parsed = sockets.InetAddr(server);
    if (parsed != -1) {
        platform::Ipv4 address;
        std::memcpy(address.data(), &parsed, address.size());
        return address;
    }
    const auto found = sockets.GetHostByName(ToAnsi(server));
    if (!found || found->empty()) return std::nullopt;
    return found->front();
}

ReplyKind ClassifyReply(std::span<const std::uint8_t> datagram,
                        std::span<const std::uint8_t> query) {
    if (datagram.size() < kHeaderSize || query.size() < kHeaderSize) return ReplyKind::Stray;
    ByteReader reply(datagram);
    ByteReader ours(query);
    if (reply.U16() != ours.U16()) return ReplyKind::Stray;
    const std::uint16_t flags = reply.U16();
    if (!(flags & kFlagResponse)) return ReplyKind::Stray;
    const std::uint16_t qdcount = reply.U16();
    if (qdcount == 0) return (flags & kRcodeMask) ? ReplyKind::HeaderOnlyError : ReplyKind::Stray;
    if (qdcount != 1) return ReplyKind::Stray;

    // The question must be ours: the same labels, compared without regard
    // to ASCII case (RFC 4343), then QTYPE A and QCLASS IN.
    const auto question = query.subspan(kHeaderSize);
    if (datagram.size() < kHeaderSize + question.size()) return ReplyKind::Stray;
    const auto echoed = datagram.subspan(kHeaderSize, question.size());
    std::size_t i = 0;
    const std::size_t nameEnd = question.size() >= 4 ? question.size() - 4 : 0;
    while (i < nameEnd) {
        const std::size_t length = question[i];
        if (echoed[i] != question[i]) return ReplyKind::Stray;
        ++i;
        for (std::size_t k = 0; k < length && i < nameEnd; ++k, ++i)
            if (AsciiLower(echoed[i]) != AsciiLower(question[i])) return ReplyKind::Stray;
        if (length == 0) break;
    }
    for (; i < question.size(); ++i)
        if (echoed[i] != question[i]) return ReplyKind::Stray;
    return ReplyKind::Answer;
}

// RFC 1035 section 4.1.4: a length byte whose top two bits are 00 starts a
// label, 11 a pointer with a 14-bit offset; 01 and 10 are reserved.
void ReadName(std::span<const std::uint8_t> reply, std::size_t& position) {
    ByteReader reader(reply, position);
    std::size_t octets = 0;
    std::size_t after = 0;  // just past the first pointer, once one is met
    bool jumped = false;
    std::vector<bool> visited;
    for (;;) {
        const std::uint8_t length = reader.U8();
        if (length == 0) break;
        switch (length & 0xC0) {
            case 0xC0: {
                const std::size_t offset = ((length & 0x3F) << 8) | reader.U8();
                if (!jumped) after = reader.Position();
                jumped = true;
                if (visited.empty()) visited.resize(reply.size() + 1, false);
                if (offset >= reply.size() || visited[offset]) throw Failure("bad compression pointer");
                visited[offset] = true;
                reader.Seek(offset);
                break;
            }
            case 0x00:
                octets += 1 + length;
                if (octets + 1 > kMaxNameOctets) throw Failure("name longer than 255 octets");
                reader.Skip(length);
                break;
            default:
                throw Failure("reserved label type");
        }
    }
    position = jumped ? after : reader.Position();
}

// RFC 1035 section 4.1.3: every answer is NAME, TYPE, CLASS, TTL, RDLENGTH
// and RDATA; only an A record of class IN with four bytes of data is an
// address, every other record is stepped over by its RDLENGTH.
void ReadAnswers(std::span<const std::uint8_t> reply, std::size_t position,
                 std::uint16_t answerCount, CheckState& state, platform::TextBox& report) {
    ReadName(reply, position);
    ByteReader reader(reply, position);
    reader.Skip(4);  // QTYPE, QCLASS
    for (unsigned c = 0; c < answerCount; ++c) {
        std::size_t at = reader.Position();
        ReadName(reply, at);
        reader.Seek(at);
        const std::uint16_t type = reader.U16();
        const std::uint16_t klass = reader.U16();
        reader.Skip(4);  // TTL
        const std::uint16_t length = reader.U16();
        const auto data = reader.Bytes(length);
        if (type != kTypeA || klass != kClassIn || length != 4) continue;

        const std::string address = text::DottedText({data[0], data[1], data[2], data[3]});
        if (address == state.HostIP) state.IpMatch = true;
        ++state.Answers;
        Append(report, {address, kCrLf});
    }
}

std::string QueryDnsServer(const std::string& domain, const std::string& server,
                           QueryContext& context) {
    auto& sockets = context.sockets;
    platform::SocketHandle handle = platform::kNoSocket;
    Step([&] { handle = sockets.Socket(); });
    if (handle == platform::kNoSocket) return {};
    SocketGuard guard(sockets, handle);

    std::optional<platform::Ipv4> address;
    Step([&] { address = ServerAddress(sockets, server); });
    if (!address) return {};

    // A connected socket: datagrams from any other address or port never
    // reach the reader.
    if (sockets.Connect(handle, *address, context.port) != 0) return {};

    const std::vector<std::uint8_t> query = BuildQuery(domain);
    int sent = -1;
    Step([&] { sent = sockets.Send(handle, query.data(), static_cast<int>(query.size())); });
    if (sent <= 0) return {};

    // Datagrams that are not the reply are dropped and the wait goes on, but
    // the whole wait is bounded, however many of them arrive.
    std::array<std::uint8_t, kReceiveCapacity> buffer{};
    const auto deadline = std::chrono::steady_clock::now() + context.wait;
    for (;;) {
        const auto left = std::chrono::ceil<std::chrono::milliseconds>(
            deadline - std::chrono::steady_clock::now());
        if (left.count() <= 0) return {};
        const int received = sockets.Receive(handle, buffer.data(), static_cast<int>(buffer.size()), left);
        // A datagram too long for the buffer is dropped like any stray.
        if (received == platform::kDatagramTooLong) continue;
        if (received < 0) return {};
        const std::span<const std::uint8_t> datagram(buffer.data(), static_cast<std::size_t>(received));
        switch (ClassifyReply(datagram, query)) {
            case ReplyKind::Stray:
                continue;
            case ReplyKind::HeaderOnlyError:
                return {};
            case ReplyKind::Answer: {
                const auto count = static_cast<std::uint16_t>((datagram[6] << 8) | datagram[7]);
                Step([&] { ReadAnswers(datagram, kHeaderSize, count, context.state, context.report); });
                return {};
            }
        }
    }
}

}  // namespace tarnwell
