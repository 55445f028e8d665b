// The direct query over real loopback sockets against a scripted UDP
// server: only the server's own reply to our question counts, strays of
// every kind (oversized ones included) are dropped without ending the wait,
// and the wait ends at its bound however many arrive. (A refused port is
// run end to end.)
#include "platform/posix/PosixSockets.h"
#include "resolve/DNS_IP_READER.h"
#include "tests/fakes/Fakes.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <filesystem>
#include <thread>

namespace tarnwell {
namespace {

using namespace std::chrono_literals;
using fakes::Bytes;

int Bound(std::uint32_t address) {
    const int fd = ::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(address);
    if (::bind(fd, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0) throw std::runtime_error("bind");
    return fd;
}

auto OpenDescriptors() { return std::distance(std::filesystem::directory_iterator("/proc/self/fd"), {}); }

// Each datagram of the script goes from the server's socket (0), another
// port on 127.0.0.1 (1) or 127.0.0.2 (2).
using Script = std::vector<std::pair<int, Bytes>>;

struct Outcome {
    std::string report;
    bool replied;
    bool operator==(const Outcome&) const = default;
};

Outcome Query(std::function<Script(const Bytes&)> script, std::chrono::milliseconds wait = 2s) {
    const int fds[] = {Bound(INADDR_LOOPBACK), Bound(INADDR_LOOPBACK), Bound(INADDR_LOOPBACK + 1)};
    sockaddr_in self{};
    socklen_t length = sizeof self;
    ::getsockname(fds[0], reinterpret_cast<sockaddr*>(&self), &length);
    std::thread server([&] {
        Bytes query(512);
        sockaddr_in from{};
        socklen_t len = sizeof from;
        const ssize_t n = ::recvfrom(fds[0], query.data(), query.size(), 0, reinterpret_cast<sockaddr*>(&from), &len);
        if (n > 0)
            for (const auto& [who, bytes] : script(Bytes(query.begin(), query.begin() + n)))
                ::sendto(fds[who], bytes.data(), bytes.size(), 0, reinterpret_cast<sockaddr*>(&from), len);
    });
    platform::PosixSockets sockets;
    CheckState state;
    fakes::FakeTextBox report;
    QueryContext context{sockets, state, report, wait, ntohs(self.sin_port)};
    QueryDnsServer("aa.bbb", "127.0.0.1", context);
    ::shutdown(fds[0], SHUT_RDWR);  // a server still waiting gives up
    server.join();
    for (int fd : fds) ::close(fd);
    return {report.text, state.Replied};
}

Bytes Real(const Bytes& q) { return fakes::ReplyTo(q, {fakes::ARecord({10, 0, 0, 1})}); }
Bytes Forged(const Bytes& q) { return fakes::ReplyTo(q, {fakes::ARecord({6, 6, 6, 6})}); }

TEST(Query, OnlyTheServersOwnReplyCounts) {
    const auto before = OpenDescriptors();
    struct Row {
        const char* name;
        std::function<Script(const Bytes&)> script;
        Outcome expected;
    };
    const Row rows[] = {
        {"the reply", [](auto& q) { return Script{{0, Real(q)}}; }, {"10.0.0.1\r\n", true}},
        {"oversized stray, then the reply", [](auto& q) { return Script{{0, Bytes(3000, 0x11)}, {0, Real(q)}}; },
         {"10.0.0.1\r\n", true}},
        {"empty, short, other id, then the reply",
         [](auto& q) {
             Bytes other = Forged(q);
             other[1] ^= 1;
             return Script{{0, {}}, {0, Bytes(q.begin(), q.begin() + 5)}, {0, other}, {0, Real(q)}};
         },
         {"10.0.0.1\r\n", true}},
        {"forged from another port and address", [](auto& q) { return Script{{1, Forged(q)}, {2, Forged(q)}}; },
         {"", false}},
        {"a flood of strays",
         [](auto& q) {
             Script s(20000, {0, Forged(q)});
             for (auto& [who, d] : s) d[0] ^= 0xFF;
             return s;
         },
         {"", false}},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.name);
        const Outcome o = Query(row.script, row.expected.replied ? 2s : 300ms);
        EXPECT_TRUE(o == row.expected) << o.report;
    }
    EXPECT_EQ(OpenDescriptors(), before);
}

}  // namespace
}  // namespace tarnwell
