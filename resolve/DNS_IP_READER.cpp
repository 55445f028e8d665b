#include "resolve/DNS_IP_READER.h"

#include "resolve/DNS_HostByName.h"
#include "resolve/DnsMessage.h"
#include "resolve/Report.h"
#include "resolve/Resume.h"

#include <array>
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

}  // namespace

std::vector<std::uint8_t> EncodeQName(const std::string& domain) {
    return dns::EncodeQName(ToAnsi(LookupName(domain)));
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

void ReadAnswers(std::span<const std::uint8_t> reply, CheckState& state, platform::TextBox& report) {
    const auto addresses = dns::UsableAddresses(reply);
    if (!addresses) return;
    state.Replied = true;
    for (const Ipv4& a : *addresses) {
        const std::string address = text::DottedText(a);
        if (address == state.HostIP) state.IpMatch = true;
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

    std::optional<Ipv4> address;
    Step([&] { address = ServerAddress(sockets, server); });
    if (!address) return {};

    // A connected socket: datagrams from any other address or port never
    // reach the reader.
    if (sockets.Connect(handle, *address, context.port) != 0) return {};

    // A name the DNS cannot carry is never sent.
    std::vector<std::uint8_t> query;
    Step([&] { query = dns::BuildQuery(EncodeQName(domain)); });
    if (query.empty()) return {};
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
        if (!dns::IsReplyTo(datagram, query)) continue;
        Step([&] { ReadAnswers(datagram, context.state, context.report); });
        return {};
    }
}

}  // namespace tarnwell
