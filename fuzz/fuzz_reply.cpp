// The whole acceptance of a reply: ClassifyReply against the query for a
// domain taken from the input, and for an Answer the reading of its records
// exactly as QueryDnsServer does it.
//
// Input: one byte N, N bytes of domain text, then the received datagram.
#include "fuzz/FuzzCheck.h"
#include "resolve/DNS_IP_READER.h"
#include "tests/fakes/Fakes.h"

#include <cstdint>

using namespace tarnwell;
using fuzz::Check;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size < 1 || size < 1u + data[0]) return -1;
    const std::string domain(reinterpret_cast<const char*>(data + 1), data[0]);
    const std::span<const std::uint8_t> datagram(data + 1 + data[0], size - 1 - data[0]);
    if (datagram.size() > kReceiveCapacity) return -1;

    const std::vector<std::uint8_t> query = BuildQuery(domain);
    Check(query.size() >= 17, "query shorter than header and question");
    // A server's plain echo of the question is always the reply, whatever
    // the domain text.
    Check(ClassifyReply(fakes::ReplyTo(query, {}), query) == ReplyKind::Answer,
          "the echo of our own question is not accepted");

    const ReplyKind kind = ClassifyReply(datagram, query);
    if (kind == ReplyKind::Stray) return 0;
    Check(datagram.size() >= kHeaderSize, "accepted a datagram shorter than a header");
    Check(datagram[0] == query[0] && datagram[1] == query[1], "accepted another identifier");
    Check(datagram[2] & 0x80, "accepted a datagram without the response bit");
    if (kind == ReplyKind::HeaderOnlyError) {
        Check(datagram[4] == 0 && datagram[5] == 0, "error reply with a question");
        Check(datagram[3] & 0x0F, "error reply without an error code");
        return 0;
    }
    Check(datagram[4] == 0 && datagram[5] == 1, "accepted a reply without exactly one question");
    Check(datagram.size() >= query.size(), "accepted a reply shorter than our question");
    for (std::size_t i = query.size() - 4; i < query.size(); ++i)
        Check(datagram[i] == query[i], "accepted another QTYPE or QCLASS");

    const auto count = static_cast<std::uint16_t>((datagram[6] << 8) | datagram[7]);
    fuzz::ReadAndCheck(datagram, count);
    return 0;
}
