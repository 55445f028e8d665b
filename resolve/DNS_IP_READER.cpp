#include "resolve/DNS_IP_READER.h"

#include "resolve/DNS_HostByName.h"
#include "resolve/Report.h"
#include "resolve/Resume.h"

#include <algorithm>

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

template <class List>
bool Contains(const List& list, const Address& address) {
    return std::find(list.begin(), list.end(), address) != list.end();
}

// One query on a fresh socket: the reply read before the deadline, or
// nothing. `sent` tells whether the query left.
std::optional<dns::Reading> AskOnce(const std::vector<std::uint8_t>& query, const Address& address,
                                    Clock::time_point deadline, QueryContext& context, bool& sent,
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

// Whether an address of the family is missing from the server's.
bool Lacks(const CheckState& state, const DirectAnswer& answer, Address::Family family) {
    const auto missing = Missing(state.HostIPs, answer);
    return std::any_of(missing.begin(), missing.end(), [&](const Address& a) { return a.family() == family; });
}

// The queries of one type: asked again while an address of the family is
// missing, until a reply of no use, an incomplete one or the deadline.
void Ask(std::uint16_t qtype, Replies& replies, const Address& server, Clock::time_point deadline,
         std::span<const std::uint8_t> qname, DirectAnswer& answer, QueryContext& context,
         std::vector<std::uint8_t>& buffer) {
    const auto family = qtype == dns::kTypeA ? Address::Family::V4 : Address::Family::V6;
    const auto query = dns::BuildQuery(qname, qtype);
    replies.asked = true;
    for (int asked = 0; asked < kMaxQueries; ++asked) {
        const auto reading = AskOnce(query, server, deadline, context, answer.sent, buffer);
        // A reply of no use (SERVFAIL, REFUSED, a header alone) ends the
        // asking; it is no evidence either way.
        if (!reading || !reading->usable) return;
        answer.rcode = reading->rcode;
        Step([&] { ReadAnswers(*reading, answer, context.state, context.report); });
        if (!reading->complete) {
            replies.incomplete = true;
            return;
        }
        ++replies.complete;
        if (!Lacks(context.state, answer, family)) return;
    }
}

}  // namespace

std::vector<Address> Missing(const std::vector<Address>& computer, const DirectAnswer& answer) {
    std::vector<Address> missing;
    for (const auto& a : computer)
        if (!Contains(answer.addresses, a)) missing.push_back(a);
    return missing;
}

std::optional<Address> ServerAddress(platform::Sockets& sockets, const std::string& server) {
    if (auto parsed = Address::Parse(server, true)) return parsed;
    const auto found = sockets.GetAddrInfo(ToAnsi(server));
    if (!found || found->empty()) return std::nullopt;
    return found->front();
}

void ReadAnswers(const dns::Reading& reading, DirectAnswer& answer, CheckState& state, platform::TextBox& report) {
    for (const Address& a : reading.addresses) {
        if (Contains(answer.addresses, a)) continue;
        answer.addresses.push_back(a);
        Append(report, {a.Text(), kCrLf});
    }
    state.IpMatch = !state.HostIPs.empty() && Missing(state.HostIPs, answer).empty();
}

DirectAnswer QueryDnsServer(std::span<const std::uint8_t> qname, const std::string& server, QueryContext& context) {
    DirectAnswer answer;
    std::optional<Address> address;
    Step([&] { address = ServerAddress(context.sockets, server); });
    if (!address) return answer;
    answer.server = address;

    std::vector<std::uint8_t> buffer(kReceiveCapacity);
    const auto deadline = Clock::now() + context.wait;
    Ask(dns::kTypeA, answer.a, *address, deadline, qname, answer, context, buffer);
    const auto& computer = context.state.HostIPs;
    if (std::any_of(computer.begin(), computer.end(), [](const Address& a) { return !a.IsV4(); }))
        Ask(dns::kTypeAaaa, answer.aaaa, *address, deadline, qname, answer, context, buffer);
    return answer;
}

std::vector<AddressProof> ProveAddresses(platform::Tls& tls, const std::vector<Address>& computer,
                                         const std::string& ace, std::chrono::milliseconds wait,
                                         const std::function<void(const AddressProof&)>& each) {
    std::vector<AddressProof> proofs;
    const auto deadline = Clock::now() + wait;
    const std::size_t count = std::min(computer.size(), kMaxProbed);
    for (std::size_t k = 0; k < count; ++k) {
        const auto share = (deadline - Clock::now()) / static_cast<long>(count - k);
        platform::Proof proof;
        Step([&] { proof = tls.Probe(computer[k], ace, Clock::now() + std::max(share, Clock::duration::zero())); });
        proofs.push_back({computer[k], proof});
        each(proofs.back());
    }
    return proofs;
}

Verdict Decide(const DirectAnswer& answer, const std::vector<Address>& computer,
               const std::vector<AddressProof>& proofs, bool hostsLineMaps) {
    const auto failed = [](const AddressProof& p) { return p.proof.result == platform::ProofResult::Failed; };
    if (std::any_of(proofs.begin(), proofs.end(), failed)) return Verdict::Impostor;
    const auto missing = Missing(computer, answer);
    if (missing.empty()) return Verdict::Match;
    // What is left to explain: the missing addresses that did not prove the
    // name, or all of them when a hosts line maps it.
    std::vector<Address> unexplained;
    for (const auto& a : missing) {
        const bool proven = std::any_of(proofs.begin(), proofs.end(), [&](const AddressProof& p) {
            return p.address == a && p.proof.result == platform::ProofResult::Proven;
        });
        if (!proven || hostsLineMaps) unexplained.push_back(a);
    }
    if (unexplained.empty()) return Verdict::Proven;
    // Each family is judged on its own replies: one whose whole replies lack
    // an address of the computer's is a mismatch, whatever the other's say.
    const bool whole = std::any_of(unexplained.begin(), unexplained.end(), [&](const Address& a) { return answer.Of(a).Whole(); });
    return whole ? Verdict::Mismatch : Verdict::Inconclusive;
}

}  // namespace tarnwell
