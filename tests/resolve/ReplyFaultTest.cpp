// Faulty replies through the whole direct query over real loopback sockets:
// sizes around the receive buffer's 2,048 bytes, and malformed records
// after good ones. Each case checks the report lines and whether the query
// ended at once or waited to its bound.
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

Bytes A(std::uint8_t last) { return fakes::ARecord({10, 0, 0, last}); }
Bytes Join(Bytes a, const Bytes& b) {
    a.insert(a.end(), b.begin(), b.end());
    return a;
}
std::string Lines(int from, int count) {
    std::string out;
    for (int i = from; i < from + count; ++i) out += "10.1." + std::to_string(i >> 8) + "." + std::to_string(i & 0xFF) + "\r\n";
    return out;
}

struct Case {
    const char* name;
    std::function<std::vector<Bytes>(const Bytes& query)> replies;
    std::string lines;
    bool waitsToBound = false;  // otherwise the query ends at once
};

// Runs every case against one server; the bound is short for the cases that
// wait and long for those that must end before it.
void RunCases(const std::vector<Case>& cases) {
    std::atomic<const Case*> current{nullptr};
    ScriptedServer server([&](const Bytes& q) {
        std::vector<ScriptedServer::Datagram> out;
        for (auto& r : current.load()->replies(q)) out.push_back({std::move(r)});
        return out;
    });
    const int before = OpenDescriptors();
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        current = &c;
        platform::PosixSockets sockets;
        CheckState state;
        state.HostIP = "10.0.0.2";
        fakes::FakeTextBox report;
        const auto wait = c.waitsToBound ? 300ms : 3000ms;
        QueryContext context{sockets, state, report, wait, server.Port()};
        const auto start = std::chrono::steady_clock::now();
        QueryDnsServer("aa.bbb", "127.0.0.1", context);
        const auto elapsed = std::chrono::steady_clock::now() - start;
        EXPECT_EQ(report.text, c.lines);
        EXPECT_EQ(state.IpMatch, c.lines.find("10.0.0.2\r\n") != std::string::npos);
        if (c.waitsToBound) {
            EXPECT_GE(elapsed, 290ms);
            EXPECT_LT(elapsed, 1300ms);
        } else {
            EXPECT_LT(elapsed, 1500ms);
        }
    }
    EXPECT_EQ(OpenDescriptors(), before);
}

// A reply to aa.bbb with `count` A records 10.1.x.y, cut to `size` bytes.
Bytes Many(const Bytes& q, int count, std::size_t size) {
    std::vector<Bytes> records;
    for (int i = 0; i < count; ++i) records.push_back(fakes::ARecord({10, 1, std::uint8_t(i >> 8), std::uint8_t(i)}));
    Bytes reply = fakes::ReplyTo(q, records);
    reply.resize(size, 0);
    return reply;
}

TEST(ReplyFaults, SizesAroundTheReceiveBuffer) {
    auto good = [](const Bytes& q) { return fakes::ReplyTo(q, {A(1), A(2)}); };
    auto padded = [&](std::size_t size) {
        return [=](const Bytes& q) { return std::vector<Bytes>{Join(good(q), Bytes(size - good(q).size(), 0))}; };
    };
    auto oversized = [&](std::size_t size) {
        // The real reply right after it is never read: a failed receive ends the query.
        return [=](const Bytes& q) {
            Bytes big = good(q);
            big.resize(size, 0);
            return std::vector<Bytes>{big, good(q)};
        };
    };
    const std::vector<Case> cases = {
        {"empty datagram, then nothing", [](const Bytes&) { return std::vector<Bytes>{Bytes{}}; }, "", true},
        {"11 bytes of the reply, then nothing",
         [&](const Bytes& q) {
             Bytes d = good(q);
             d.resize(11);
             return std::vector<Bytes>{d};
         },
         "", true},
        {"empty and 11 bytes are dropped, the reply after them read",
         [&](const Bytes& q) { return std::vector<Bytes>{Bytes{}, Bytes(11, 0x11), good(q)}; },
         "10.0.0.1\r\n10.0.0.2\r\n"},
        {"our identifier, an error code and no question: the wait ends, the reply after it unread",
         [&](const Bytes& q) {
             Bytes formerr(q.begin(), q.begin() + 12);
             formerr[2] = 0x81, formerr[3] = 0x81, formerr[5] = 0;
             return std::vector<Bytes>{formerr, good(q)};
         },
         ""},
        {"exactly 2,048 bytes", padded(2048), "10.0.0.1\r\n10.0.0.2\r\n"},
        {"126 records in exactly 2,040 bytes", [](const Bytes& q) { return std::vector<Bytes>{Many(q, 126, 2040)}; },
         Lines(0, 126)},
        {"200 announced, cut at 2,048 bytes: the 126 that fit",
         [](const Bytes& q) { return std::vector<Bytes>{Many(q, 200, 2048)}; }, Lines(0, 126)},
        {"2,049 bytes", oversized(2049), ""},
        {"4,096 bytes", oversized(4096), ""},
        {"65,507 bytes, the largest datagram", oversized(65507), ""},
    };
    RunCases(cases);
}

TEST(ReplyFaults, MalformedRecordsKeepTheLinesBefore) {
    // A good first record (10.0.0.1), then `tail` as the rest of the
    // datagram; ANCOUNT says `count`.
    auto after = [](Bytes tail, std::uint8_t count = 2) {
        return [=](const Bytes& q) {
            Bytes reply = Join(fakes::ReplyTo(q, {A(1)}), tail);
            reply[6] = count == 0xFF ? 0xFF : 0;
            reply[7] = count;
            return std::vector<Bytes>{reply};
        };
    };
    constexpr std::uint8_t second = 12 + 12 + 16;  // offset of the second record for aa.bbb
    const Bytes fixedA = {0, 1, 0, 1, 0, 0, 0x0E, 0x10, 0, 4};
    const std::vector<Case> cases = {
        {"ANCOUNT 65535 and no record",
         [](const Bytes& q) {
             Bytes r = fakes::ReplyTo(q, {});
             r[6] = r[7] = 0xFF;
             return std::vector<Bytes>{r};
         },
         ""},
        {"ANCOUNT 65535 and two records: both read, then the end", after(A(2), 0xFF),
         "10.0.0.1\r\n10.0.0.2\r\n"},
        {"owner pointers looping between two offsets",
         after(Join({0xC0, second + 2, 0xC0, second}, Join(fixedA, {6, 6, 6, 6}))), "10.0.0.1\r\n"},
        {"owner pointer forward past the end", after(Join({0xC0, 0xF0}, Join(fixedA, {6, 6, 6, 6}))), "10.0.0.1\r\n"},
        {"label running past the end", after({63, 'x', 'x', 'x'}), "10.0.0.1\r\n"},
        {"RDLENGTH past the end", after({0xC0, 0x0C, 0, 1, 0, 1, 0, 0, 0x0E, 0x10, 0xFF, 0xFF, 6, 6, 6, 6}),
         "10.0.0.1\r\n"},
        {"RDATA cut after two bytes", after(Join({0xC0, 0x0C}, Join(fixedA, {6, 6}))), "10.0.0.1\r\n"},
        {"header cut inside the TTL", after({0xC0, 0x0C, 0, 1, 0, 1, 0}), "10.0.0.1\r\n"},
        {"truncated (TC) with 5 announced and 2 sent: the 2 are read",
         [](const Bytes& q) {
             Bytes r = fakes::ReplyTo(q, {A(1), A(2)});
             r[2] |= 0x02;
             r[7] = 5;
             return std::vector<Bytes>{r};
         },
         "10.0.0.1\r\n10.0.0.2\r\n"},
    };
    RunCases(cases);
}

}  // namespace
}  // namespace tarnwell
