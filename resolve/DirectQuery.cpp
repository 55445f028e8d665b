#include "resolve/DirectQuery.h"

#include "common/Step.h"
#include "resolve/DnsMessage.h"
#include "resolve/Verdict.h"

#include <algorithm>

namespace tarnwell {

namespace {

using Clock = std::chrono::steady_clock;
using Kind = platform::Received::Kind;

// Closes the socket of one query on every path out of it.
class SocketGuard {
public:
    SocketGuard(platform::Sockets& sockets, platform::SocketHandle handle) : sockets_(sockets), handle_(handle) {}
    ~SocketGuard() { sockets_.Close(handle_); }
    SocketGuard(const SocketGuard&) = delete;
    SocketGuard& operator=(const SocketGuard&) = delete;

private:
    platform::Sockets& sockets_;
    platform::SocketHandle handle_;
};

// One wait for a datagram until the deadline; with a serving, in slices
// with a serving between them.
platform::Received Wait(const QueryContext& context, platform::SocketHandle handle, std::vector<std::uint8_t>& buffer,
                        Clock::time_point deadline) {
    for (;;) {
        const auto left = std::chrono::ceil<std::chrono::milliseconds>(deadline - Clock::now());
        if (left.count() <= 0) return {Kind::Timeout};
        const auto slice = context.serve ? std::min(left, platform::kServeSlice) : left;
        const auto received = context.sockets.Receive(handle, buffer.data(), static_cast<int>(buffer.size()), slice);
        if (received.kind != Kind::Timeout || !context.serve) return received;
        context.serve();
    }
}

// One query on a fresh socket: the reply read before the deadline, or
// nothing. `sent` tells whether the query left.
std::optional<dns::Reading> AskOnce(const std::vector<std::uint8_t>& query, const Address& address,
                                    Clock::time_point deadline, const QueryContext& context, bool& sent,
                                    std::vector<std::uint8_t>& buffer) {
    auto& sockets = context.sockets;
    platform::SocketHandle handle = platform::kNoSocket;
    Step([&] { handle = sockets.Socket(address.family()); });
    if (handle == platform::kNoSocket) return std::nullopt;
    SocketGuard guard(sockets, handle);

    // A connected socket: datagrams from any other address or port never
    // reach the reader.
    if (sockets.Connect(handle, address, context.port) != 0) return std::nullopt;
    int length = -1;
    Step([&] { length = sockets.Send(handle, query.data(), static_cast<int>(query.size())); });
    if (length <= 0) return std::nullopt;
    sent = true;

    // Datagrams that are not the reply are dropped and the wait goes on, but
    // the whole wait is bounded, however many of them arrive.
    for (;;) {
        const auto received = Wait(context, handle, buffer, deadline);
        // A datagram too long for the buffer is dropped like any stray.
        if (received.kind == Kind::TooLong) continue;
        if (received.kind != Kind::Datagram) return std::nullopt;
        const std::span<const std::uint8_t> datagram(buffer.data(), static_cast<std::size_t>(received.length));
        if (dns::IsReplyTo(datagram, query)) return dns::ReadReply(datagram);
    }
}

// Whether an address of the family is missing from the server's.
bool Lacks(const std::vector<Address>& computer, const DirectAnswer& answer, Address::Family family) {
    const auto missing = Missing(computer, answer.addresses);
    return std::any_of(missing.begin(), missing.end(), [&](const Address& a) { return a.family() == family; });
}

// The queries of one type: asked again while an address of the family is
// missing, until a reply of no use, an incomplete one or the deadline.
void Ask(std::uint16_t qtype, Replies& replies, const Address& server, const std::vector<Address>& computer,
         Clock::time_point deadline, std::span<const std::uint8_t> qname, DirectAnswer& answer,
         const QueryContext& context, std::vector<std::uint8_t>& buffer) {
    const auto family = qtype == dns::kTypeA ? Address::Family::V4 : Address::Family::V6;
    const auto query = dns::BuildQuery(qname, qtype);
    replies.asked = true;
    for (int asked = 0; asked < kMaxQueries; ++asked) {
        const auto reading = AskOnce(query, server, deadline, context, answer.sent, buffer);
        // A reply of no use (SERVFAIL, REFUSED, a header alone) ends the
        // asking; it is no evidence either way.
        if (!reading || !reading->usable) return;
        answer.rcode = reading->rcode;
        for (const Address& a : reading->addresses) {
            if (std::find(answer.addresses.begin(), answer.addresses.end(), a) != answer.addresses.end()) continue;
            answer.addresses.push_back(a);
            if (context.found) context.found(a);
        }
        if (!reading->complete) {
            replies.incomplete = true;
            return;
        }
        ++replies.complete;
        if (!Lacks(computer, answer, family)) return;
    }
}

}  // namespace

DirectAnswer QueryServer(std::span<const std::uint8_t> qname, const Address& server,
                         const std::vector<Address>& computer, const QueryContext& context) {
    DirectAnswer answer;
    std::vector<std::uint8_t> buffer(kReceiveCapacity);
    const auto deadline = Clock::now() + context.wait;
    Ask(dns::kTypeA, answer.a, server, computer, deadline, qname, answer, context, buffer);
    if (std::any_of(computer.begin(), computer.end(), [](const Address& a) { return !a.IsV4(); }))
        Ask(dns::kTypeAaaa, answer.aaaa, server, computer, deadline, qname, answer, context, buffer);
    return answer;
}

}  // namespace tarnwell
