// The direct query over real UDP sockets: what goes on the wire, and how
// the query ends without a server. Replies, strays and faults are in
// ReplyFaultTest.cpp and SpoofTest.cpp.
#include "platform/posix/PosixSockets.h"
#include "resolve/DNS_IP_READER.h"
#include "tests/fakes/Fakes.h"
#include "tests/resolve/ScriptedServer.h"

#include <gtest/gtest.h>

namespace tarnwell {
namespace {

using namespace std::chrono_literals;
using Bytes = std::vector<std::uint8_t>;
using testing::OpenDescriptors;
using testing::ScriptedServer;

std::chrono::milliseconds Query(const std::string& domain, const std::string& server, std::uint16_t port,
                                fakes::FakeTextBox& report, CheckState& state) {
    platform::PosixSockets sockets;
    QueryContext context{sockets, state, report, 3000ms, port};
    const auto start = std::chrono::steady_clock::now();
    QueryDnsServer(domain, server, context);
    return std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - start);
}

TEST(QueryDnsServer, SendsExactlyTheMessageAndReadsTheReply) {
    std::vector<Bytes> seen;
    ScriptedServer server([&](const Bytes& q) {
        seen.push_back(q);
        return std::vector<ScriptedServer::Datagram>{
            {fakes::ReplyTo(q, {fakes::ARecord({10, 0, 0, 1}), fakes::ARecord({10, 0, 0, 2})})}};
    });
    const int before = OpenDescriptors();
    for (const std::string domain : {"aa.bbb", "пример.рф"}) {
        fakes::FakeTextBox report;
        CheckState state;
        state.HostIP = "10.0.0.2";
        Query(domain, "127.0.0.1", server.Port(), report, state);
        EXPECT_EQ(report.text, "10.0.0.1\r\n10.0.0.2\r\n");
        EXPECT_TRUE(state.IpMatch);
        ASSERT_FALSE(seen.empty());
        EXPECT_EQ(seen.back(), BuildQuery(domain));  // one datagram, exactly the message
    }
    EXPECT_EQ(seen.size(), 2u);
    EXPECT_EQ(OpenDescriptors(), before);
}

TEST(QueryDnsServer, EndsAtOnceWithoutAServer) {
    std::uint16_t closedPort;
    {
        ScriptedServer gone([](const Bytes&) { return std::vector<ScriptedServer::Datagram>{}; });
        closedPort = gone.Port();
    }
    fakes::FakeTextBox report;
    CheckState state;
    // The port's refusal ends the wait long before its bound.
    EXPECT_LT(Query("aa.bbb", "127.0.0.1", closedPort, report, state), 1000ms);
    // A server text that gives no address sends nothing at all.
    EXPECT_LT(Query("aa.bbb", "255.255.255.255", closedPort, report, state), 100ms);
    EXPECT_EQ(report.text, "");
}

}  // namespace
}  // namespace tarnwell
