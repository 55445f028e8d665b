// Spoofing over real loopback sockets: replies from another address or
// port, wrong identifiers, and floods of stray datagrams. Nothing but the
// server's own reply to our question may count, and however many strays
// arrive the wait ends at its bound, never later.
#include "platform/posix/PosixSockets.h"
#include "resolve/DNS_IP_READER.h"
#include "tests/fakes/Fakes.h"
#include "tests/resolve/ScriptedServer.h"

#include <gtest/gtest.h>

namespace tarnwell {
namespace {

using namespace std::chrono_literals;
using Bytes = std::vector<std::uint8_t>;
using testing::ScriptedServer;
using From = ScriptedServer::From;
using Datagram = ScriptedServer::Datagram;

const std::string kReal = "10.0.0.1\r\n10.0.0.2\r\n";

Bytes Real(const Bytes& q) { return fakes::ReplyTo(q, {fakes::ARecord({10, 0, 0, 1}), fakes::ARecord({10, 0, 0, 2})}); }
// A reply that would put 6.6.6.6 in the report if it were taken.
Bytes Forged(const Bytes& q) { return fakes::ReplyTo(q, {fakes::ARecord({6, 6, 6, 6})}); }

struct Outcome {
    std::string report;
    std::chrono::milliseconds elapsed;
};

Outcome Query(std::uint16_t port, std::chrono::milliseconds wait) {
    platform::PosixSockets sockets;
    CheckState state;
    fakes::FakeTextBox report;
    QueryContext context{sockets, state, report, wait, port};
    const auto start = std::chrono::steady_clock::now();
    QueryDnsServer("aa.bbb", "127.0.0.1", context);
    return {report.text, std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - start)};
}

TEST(Spoofing, OnlyTheServersOwnReplyToOurQuestionCounts) {
    auto wrongId = [](const Bytes& q, std::uint16_t id) {
        Bytes d = Forged(q);
        d[0] = static_cast<std::uint8_t>(id >> 8), d[1] = static_cast<std::uint8_t>(id);
        return d;
    };
    struct Row {
        const char* name;
        std::function<std::vector<Datagram>(const Bytes&)> script;
    };
    const Row rows[] = {
        {"from 127.0.0.2", [](const Bytes& q) { return std::vector<Datagram>{{Forged(q), From::OtherAddress}}; }},
        {"from 127.0.0.2 on the server's port",
         [](const Bytes& q) { return std::vector<Datagram>{{Forged(q), From::OtherAddressSamePort}}; }},
        {"from another port of 127.0.0.1",
         [](const Bytes& q) { return std::vector<Datagram>{{Forged(q), From::OtherPort}}; }},
        {"wrong identifiers from the server",
         [&](const Bytes& q) {
             std::vector<Datagram> out;
             for (std::uint16_t id : {0, 4574, 4576, 0xDF11, 0xFFFF}) out.push_back({wrongId(q, id)});
             return out;
         }},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.name);
        // Alone: nothing is read and the wait runs to its bound.
        ScriptedServer alone([&](const Bytes& q) { return row.script(q); });
        const Outcome quiet = Query(alone.Port(), 300ms);
        EXPECT_EQ(quiet.report, "");
        EXPECT_GE(quiet.elapsed, 290ms);
        EXPECT_GT(alone.Sent(), 0);

        // Before the real reply: the real reply is read, the forged one never.
        ScriptedServer then([&](const Bytes& q) {
            auto out = row.script(q);
            out.push_back({Real(q), From::Server, 30ms});
            return out;
        });
        const Outcome read = Query(then.Port(), 3000ms);
        EXPECT_EQ(read.report, kReal);
        EXPECT_LT(read.elapsed, 1500ms);
    }
}

// Strays of every kind the query drops; none ends the wait.
std::vector<Bytes> Strays(const Bytes& q) {
    Bytes notReply = Forged(q);
    notReply[2] &= 0x7F;
    Bytes otherName = Forged(q);
    otherName[13] = 'z';
    Bytes aaaa = Forged(q);
    aaaa[21] = 28;
    Bytes twoQuestions = Forged(q);
    twoQuestions[5] = 2;
    Bytes noErrorHeader(q.begin(), q.begin() + 12);
    noErrorHeader[2] = 0x81, noErrorHeader[5] = 0;
    return {notReply, otherName, aaaa, twoQuestions, noErrorHeader, Bytes{}, Bytes(11, 0x11), Bytes(700, 0xC0)};
}

TEST(Spoofing, FloodOfTenThousandStraysBeforeTheReply) {
    constexpr auto kBound = 2000ms;
    ScriptedServer server([](const Bytes& q) {
        const auto kinds = Strays(q);
        std::vector<Datagram> out;
        for (int i = 0; i < 10000; ++i) {
            Bytes d = i % 2 ? Forged(q) : kinds[static_cast<std::size_t>(i / 2) % kinds.size()];
            if (i % 2) d[0] = static_cast<std::uint8_t>(0x12 + i % 200);  // never our identifier
            const From from = i % 7 == 0 ? From::OtherAddress : i % 11 == 0 ? From::OtherPort : From::Server;
            // A short breath every 500 datagrams, so that some of the flood
            // is read rather than all dropped by a full receive buffer.
            out.push_back({std::move(d), from, i % 500 == 0 ? 1ms : 0ms});
        }
        out.push_back({Real(q)});
        return out;
    });
    const Outcome outcome = Query(server.Port(), kBound);
    EXPECT_GE(server.Sent(), 10000);
    // The kernel may drop datagrams, the real reply too, when the receive
    // buffer is full: then the wait ends at its bound.
    if (outcome.report.empty())
        EXPECT_GE(outcome.elapsed, kBound - 10ms);
    else
        EXPECT_EQ(outcome.report, kReal);
    EXPECT_LT(outcome.elapsed, kBound + 1500ms);
}

TEST(Spoofing, TheBoundHoldsUnderASteadyDrip) {
    // A stray every 10 ms for 3 s: a wait that started over with every
    // datagram would never end before the drip does.
    ScriptedServer server([](const Bytes& q) {
        std::vector<Datagram> out;
        for (int i = 0; i < 300; ++i) out.push_back({Strays(q)[static_cast<std::size_t>(i) % 8], From::Server, 10ms});
        return out;
    });
    const Outcome outcome = Query(server.Port(), 500ms);
    EXPECT_EQ(outcome.report, "");
    EXPECT_GE(outcome.elapsed, 490ms);
    EXPECT_LT(outcome.elapsed, 1500ms);
}

}  // namespace
}  // namespace tarnwell
