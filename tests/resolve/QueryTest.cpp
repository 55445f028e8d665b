// The direct query over real UDP sockets, against a server on loopback.
#include "platform/posix/PosixSockets.h"
#include "resolve/DNS_IP_READER.h"
#include "tests/fakes/Fakes.h"
#include "tests/resolve/LoopbackServer.h"

#include <gtest/gtest.h>

#include <dirent.h>

namespace tarnwell {
namespace {

using namespace std::chrono_literals;
using testing::Bytes;
using testing::LoopbackServer;
using testing::Outgoing;

int OpenDescriptors() {
    int n = 0;
    if (DIR* d = ::opendir("/proc/self/fd")) {
        while (::readdir(d)) ++n;
        ::closedir(d);
    }
    return n;
}

struct Query {
    platform::PosixSockets sockets;
    CheckState state;
    fakes::FakeTextBox report;
    std::chrono::milliseconds elapsed{};

    void Run(std::uint16_t port, std::chrono::milliseconds wait = 400ms, const std::string& server = "127.0.0.1") {
        state.HostIP = "10.0.0.2";
        QueryContext context{sockets, state, report, wait, port};
        const auto start = std::chrono::steady_clock::now();
        QueryDnsServer("aa.bbb", server, context);
        elapsed = std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - start);
    }
};

Bytes Answer(const Bytes& query) {
    return fakes::ReplyTo(query, {fakes::ARecord({10, 0, 0, 1}), fakes::ARecord({10, 0, 0, 2})});
}

TEST(QueryDnsServer, ReadsTheReplyAndClosesTheSocket) {
    std::vector<Bytes> seen;
    LoopbackServer server([&](const Bytes& q) {
        seen.push_back(q);
        return std::vector<Outgoing>{{Answer(q)}};
    });
    const int before = OpenDescriptors();
    Query query;
    query.Run(server.Port());
    EXPECT_EQ(query.report.text, "10.0.0.1\r\n10.0.0.2\r\n");
    EXPECT_TRUE(query.state.IpMatch);
    ASSERT_EQ(seen.size(), 1u);
    EXPECT_EQ(seen[0], BuildQuery("aa.bbb"));  // the datagram is exactly the message
    EXPECT_EQ(OpenDescriptors(), before);
}

TEST(QueryDnsServer, StrayDatagramsAreDroppedUntilTheReply) {
    LoopbackServer server([](const Bytes& q) {
        Bytes wrongId = Answer(q);
        wrongId[1] ^= 0xFF;
        Bytes notReply = Answer(q);
        notReply[2] &= 0x7F;
        Bytes otherQuestion = Answer(q);
        otherQuestion[13] = 'z';
        Bytes strangerAnswer = fakes::ReplyTo(q, {fakes::ARecord({6, 6, 6, 6})});
        return std::vector<Outgoing>{{strangerAnswer, true}, {wrongId}, {notReply}, {{1, 2, 3}},
                                     {otherQuestion}, {Bytes{}}, {Answer(q)}};
    });
    Query query;
    query.Run(server.Port());
    EXPECT_EQ(query.report.text, "10.0.0.1\r\n10.0.0.2\r\n");
}

TEST(QueryDnsServer, EndsAtTheBoundOrAtOnce) {
    // A server that reads and never answers: the wait ends at its bound,
    // however many strays arrive before it.
    LoopbackServer silent([](const Bytes& q) {
        std::vector<Outgoing> strays;
        for (int i = 0; i < 200; ++i) {
            Bytes d = Answer(q);
            d[0] = static_cast<std::uint8_t>(0x12 + i);  // never our identifier
            strays.push_back({d});
        }
        return strays;
    });
    Query quiet;
    quiet.Run(silent.Port(), 300ms);
    EXPECT_EQ(quiet.report.text, "");
    EXPECT_GE(quiet.elapsed, 290ms);
    EXPECT_LT(quiet.elapsed, 1300ms);

    // A closed port: the refusal ends the query long before the bound.
    std::uint16_t closedPort;
    {
        LoopbackServer gone([](const Bytes&) { return std::vector<Outgoing>{}; });
        closedPort = gone.Port();
    }
    Query refused;
    refused.Run(closedPort, 3000ms);
    EXPECT_EQ(refused.report.text, "");
    EXPECT_LT(refused.elapsed, 1000ms);

    // Servers that give no address send nothing.
    Query none;
    none.Run(closedPort, 3000ms, "255.255.255.255");
    EXPECT_LT(none.elapsed, 100ms);
}

TEST(QueryDnsServer, OversizedAndErrorReplies) {
    LoopbackServer big([](const Bytes& q) {
        Bytes huge = Answer(q);
        huge.resize(2049, 0);
        return std::vector<Outgoing>{{huge}, {Answer(q)}};
    });
    Query oversized;
    oversized.Run(big.Port());
    EXPECT_EQ(oversized.report.text, "");  // a datagram over 2,048 bytes is a failed receive

    LoopbackServer formerr([](const Bytes& q) {
        Bytes e(q.begin(), q.begin() + 12);
        e[2] = 0x81, e[3] = 0x81, e[5] = 0;
        return std::vector<Outgoing>{{e}, {Answer(q)}};
    });
    Query error;
    error.Run(formerr.Port(), 2000ms);
    EXPECT_EQ(error.report.text, "");
    EXPECT_LT(error.elapsed, 1000ms);
}

}  // namespace
}  // namespace tarnwell
