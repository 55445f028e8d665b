// A thousand checks in a row in one process: the window's check procedure
// with real sockets against a server on loopback (the computer's resolver
// answers 127.0.0.1 for every name, so nothing but loopback is touched).
// No socket may stay open and resident memory may not grow.
#include "app/Fm.h"
#include "platform/posix/PosixSockets.h"
#include "tests/fakes/Fakes.h"
#include "tests/resolve/ScriptedServer.h"

#include <gtest/gtest.h>

#include <fstream>

namespace tarnwell {
namespace {

using Bytes = std::vector<std::uint8_t>;
using testing::OpenDescriptors;
using testing::ScriptedServer;

#if defined(__SANITIZE_ADDRESS__)
constexpr bool kAddressSanitizer = true;
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
constexpr bool kAddressSanitizer = true;
#else
constexpr bool kAddressSanitizer = false;
#endif
#else
constexpr bool kAddressSanitizer = false;
#endif

long ResidentKiB() {
    std::ifstream status("/proc/self/status");
    std::string key;
    long value = -1;
    while (status >> key) {
        if (key == "VmRSS:") {
            status >> value;
            break;
        }
        status.ignore(1 << 12, '\n');
    }
    return value;
}

struct LoopbackResolver : platform::PosixSockets {
    int lookups = 0;
    std::optional<std::vector<platform::Ipv4>> GetHostByName(const std::string&) override {
        ++lookups;
        return std::vector<platform::Ipv4>{{127, 0, 0, 1}};
    }
};

TEST(Soak, ThousandChecksLeaveNoSocketAndNoGrowth) {
    // Every other reply names another address: matches and mismatches
    // (with their registry read) alternate.
    std::atomic<int> queries{0};
    ScriptedServer server([&](const Bytes& q) {
        const bool match = queries++ % 2 == 0;
        const platform::Ipv4 address = match ? platform::Ipv4{127, 0, 0, 1} : platform::Ipv4{10, 0, 0, 1};
        return std::vector<ScriptedServer::Datagram>{{fakes::ReplyTo(q, {fakes::ARecord(address)})}};
    });
    LoopbackResolver sockets;
    fakes::FakeView view;
    fakes::FakeNetworkParams params;
    params.Add("127.0.0.1");
    fakes::FakeShellFactory shells;
    fakes::RecordingMessageBox box;
    CheckState state;
    Fm fm(view, {sockets, params, shells, box}, state);
    fm.dnsPort = server.Port();
    view.combo.text = "example.com";

    int matches = 0, mismatches = 0;
    auto check = [&] {
        fm.Cmd1_Click();
        matches += fm.LastCheckEnd() == CheckEnd::Match;
        mismatches += fm.LastCheckEnd() == CheckEnd::Mismatch;
    };
    for (int i = 0; i < 100; ++i) check();  // warm-up
    const int descriptors = OpenDescriptors();
    const long resident = ResidentKiB();
    const auto start = std::chrono::steady_clock::now();
    for (int i = 0; i < 1000; ++i) check();
    const auto elapsed = std::chrono::steady_clock::now() - start;

    EXPECT_EQ(matches, 550);
    EXPECT_EQ(mismatches, 550);
    EXPECT_EQ(server.Queries(), 1100);
    EXPECT_EQ(sockets.lookups, 1100);
    EXPECT_TRUE(box.shown.empty());
    EXPECT_EQ(OpenDescriptors(), descriptors);
    EXPECT_LT(elapsed, std::chrono::seconds(8));
    const long growth = ResidentKiB() - resident;
    RecordProperty("rss_growth_kib", std::to_string(growth));
    // AddressSanitizer keeps freed memory in quarantine, so resident memory
    // grows there by design; its leak checker covers that build instead.
    if (!kAddressSanitizer) {
        EXPECT_LT(growth, 1024) << "resident memory grew by " << growth << " KiB";
    }
}

}  // namespace
}  // namespace tarnwell
