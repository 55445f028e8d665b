// The window's sockets: a wait serves the window between its slices and ends as the plain wait would; the
// resolver runs on a worker while the window is served, and is left behind when serving throws.
#include "platform/PumpingSockets.h"
#include "tests/fakes/Fakes.h"

#include <gtest/gtest.h>

using namespace tarnwell;
using namespace std::chrono_literals;

TEST(PumpingSockets, ServesWhileTheWaitPassesOrTheResolverRuns) {
    const struct {
        const char* name;
        bool silent, failed;  // the wait passes; the receive fails at once (a refused port)
        int expected, minServes, maxServes;
    } rows[] = {{"silent", true, false, -1, 3, 8}, {"refused", false, true, -1, 0, 0}, {"a datagram", false, false, 28, 0, 0}};
    for (const auto& row : rows) {  // a datagram: the header and an A record
        fakes::Platform p; int serves = 0; std::uint8_t buffer[512] = {};
        platform::PumpingSockets sockets(p.sockets, [&] { ++serves; });
        p.sockets.silent = row.silent, p.sockets.failReceive = row.failed, p.sockets.resolverTime = 200ms;
        sockets.Send(7, buffer, 12);  // a query's header
        EXPECT_EQ(sockets.Receive(7, buffer, 512, 300ms), row.expected) << row.name;
        EXPECT_TRUE(serves >= row.minServes && serves <= row.maxServes) << row.name << ": " << serves;
        EXPECT_EQ(sockets.GetAddrInfo("example.com"), std::optional(std::vector<Address>{fakes::A("93.184.216.34")}));
        EXPECT_GT(serves, row.minServes);  // served while the resolver ran (Wine's timers are coarse)
    }
    EXPECT_THROW(platform::RunServed([] {}, []() -> int { throw Failure("no"); }), Failure);
    const auto before = std::chrono::steady_clock::now();
    EXPECT_THROW(platform::RunServed([] { throw platform::WindowClosed{}; }, [] { std::this_thread::sleep_for(300ms); }),
                 platform::WindowClosed);
    EXPECT_LT(std::chrono::steady_clock::now() - before, 200ms);  // not the call's whole time
}
