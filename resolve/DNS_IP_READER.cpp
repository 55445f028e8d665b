#include "resolve/DNS_IP_READER.h"

#include "resolve/DNS_HostByName.h"
#include "resolve/Report.h"
#include "resolve/Resume.h"

#include <algorithm>
#include <cstring>

namespace tarnwell {

namespace {

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

using Clock = std::chrono::steady_clock;

// One query on a fresh socket: the reply read before the deadline, or
// nothing. `sent` tells whether the query left.
std::optional<dns::Reading> AskOnce(const std::vector<std::uint8_t>& query, const Ipv4& address,
                                    Clock::time_point deadline, QueryContext& context, bool& sent,
                                    std::vector<std::uint8_t>& buffer) {
    auto& sockets = context.sockets;
    platform::SocketHandle handle = platform::kNoSocket;
    Step([&] { handle = sockets.Socket(); });
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
        const auto left = std::chrono::ceil<std::chrono::milliseconds>(deadline - Clock::now());
        if (left.count() <= 0) return std::nullopt;
        const int received = sockets.Receive(handle, buffer.data(), static_cast<int>(buffer.size()), left);
        // A datagram too long for the buffer is dropped like any stray.
        if (received == platform::kDatagramTooLong) continue;
        if (received < 0) return std::nullopt;
        const std::span<const std::uint8_t> datagram(buffer.data(), static_cast<std::size_t>(received));
        if (dns::IsReplyTo(datagram, query)) return dns::ReadReply(datagram);
    }
}

}  // namespace

Verdict Decide(const DirectAnswer& answer, bool ipMatch) {
    if (ipMatch) return Verdict::Match;
    if (answer.complete > 0 && !answer.incomplete) return Verdict::Mismatch;
    return Verdict::Inconclusive;
}

std::optional<Ipv4> ServerAddress(platform::Sockets& sockets, const std::string& server) {
    const std::int32_t parsed = sockets.InetAddr(server);
    if (parsed != -1) {
        Ipv4 address;
        std::memcpy(address.data(), &parsed, address.size());
        return address;
    }
    const auto found = sockets.GetHostByName(ToAnsi(server));
    if (!found || found->empty()) return std::nullopt;
    return found->front();
}

void ReadAnswers(const dns::Reading& reading, DirectAnswer& answer, CheckState& state, platform::TextBox& report) {
    for (const Ipv4& a : reading.addresses) {
        if (std::find(answer.addresses.begin(), answer.addresses.end(), a) != answer.addresses.end()) continue;
        answer.addresses.push_back(a);
        const std::string address = text::DottedText(a);
        if (std::find(state.HostIPs.begin(), state.HostIPs.end(), address) != state.HostIPs.end())
            state.IpMatch = true;
        Append(report, {address, kCrLf});
    }
}

DirectAnswer QueryDnsServer(std::span<const std::uint8_t> qname, const std::string& server, QueryContext& context) {
    DirectAnswer answer;
    std::optional<Ipv4> address;
    Step([&] { address = ServerAddress(context.sockets, server); });
    if (!address) return answer;
    answer.server = address;

    const auto query = dns::BuildQuery(qname);
    std::vector<std::uint8_t> buffer(kReceiveCapacity);
    const auto deadline = Clock::now() + context.wait;
    for (int asked = 0; asked < kMaxQueries && !context.state.IpMatch; ++asked) {
        const auto reading = AskOnce(query, *address, deadline, context, answer.sent, buffer);
        // A reply of no use (SERVFAIL, REFUSED, a header alone) ends the
        // asking; it is no evidence either way.
        if (!reading || !reading->usable) break;
        answer.rcode = reading->rcode;
        Step([&] { ReadAnswers(*reading, answer, context.state, context.report); });
        if (!reading->complete) {
            answer.incomplete = true;
            break;
        }
        ++answer.complete;
    }
    return answer;
}

}  // namespace tarnwell
