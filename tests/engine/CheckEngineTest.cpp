// The check engine through a recording listener, on fakes of the platform:
// one table of scenarios, each with the events it tells and its record.
#include "engine/Check.h"
#include "tests/Rows.h"
#include "tests/fakes/Fakes.h"

#include <gtest/gtest.h>

namespace tarnwell {
namespace {

using fakes::A;
using namespace std::chrono_literals;

// Each event as a word; an address read and a proof with what they carry.
struct Recorder : CheckListener {
    std::string told;
    void On(const CheckEvent& e, const CheckRecord& r) override {
        static constexpr const char* kNames[] = {"Rejected",   "Begun",      "Resolved",  "QueryBegun",   "ServiceMissing",
                                                 "NoServer",   "ServerChosen", "",        "ProofBegun",   "",
                                                 "Concluded",  "RegistryRead", "HostsRead"};
        static_assert(std::size(kNames) == std::variant_size_v<CheckEvent>);
        if (const auto* a = std::get_if<event::ServerAddress>(&e)) told += a->address.Text() + " ";
        else if (const auto* p = std::get_if<event::Proved>(&e)) told += "proof:" + r.proofs.at(p->index).address.Text() + " ";
        else if (const auto* d = std::get_if<event::RegistryRead>(&e)) told += "RegistryRead:" + d->directory + " ";
        else told += std::string(kNames[e.index()]) + " ";
    }
};

struct Scenario {
    const char* name;
    std::string domain;
    std::function<void(fakes::Platform&)> setUp;
    std::string told;
    CheckEnd end;
    std::function<void(const CheckRecord&)> more = {};
};

const std::string kAsked = "Begun Resolved QueryBegun ServerChosen ";
const Scenario kScenarios[] = {
    {"match", "  example.com ", {}, kAsked + "93.184.216.34 ProofBegun proof:93.184.216.34 Concluded ", CheckEnd::Match,
     [](const CheckRecord& r) {
         EXPECT_EQ(r.domain, "example.com");
         EXPECT_EQ(r.queryName, "example.com");
         EXPECT_EQ(r.server, A("10.0.0.53"));
         EXPECT_TRUE(r.sent);
         EXPECT_EQ(r.rcode, 0);
         EXPECT_FALSE(r.hostsFile);  // a match needs no hosts file
     }},
    {"mismatch: the registry, then the hosts file", "example.com", [](auto& p) { p.Answer({A("10.1.1.1")}); },
     kAsked + "10.1.1.1 ProofBegun proof:93.184.216.34 Concluded RegistryRead:C:\\WINDOWS\\System32\\drivers\\etc HostsRead ",
     CheckEnd::Mismatch, [](const CheckRecord& r) {
         EXPECT_EQ(r.hostsFile, "C:\\WINDOWS\\System32\\drivers\\etc\\hosts");
         EXPECT_TRUE(r.hostsReadable);
     }},
    {"proofs told in the resolver's order, the first ending last", "example.com",
     [](auto& p) {
         p.sockets.hosts["example.com"] = {A("192.0.2.1"), A("192.0.2.2")};
         p.Answer({A("192.0.2.1"), A("192.0.2.2")});
         p.tls.pause["192.0.2.1"] = 200ms;
         p.tls.proofs["192.0.2.2"] = platform::kProven;
     },
     kAsked + "192.0.2.1 192.0.2.2 ProofBegun proof:192.0.2.1 proof:192.0.2.2 Concluded ", CheckEnd::Match,
     [](const CheckRecord& r) { EXPECT_EQ(r.proofs.at(1).proof, platform::kProven); }},
    {"four slow handshakes at once, each within the bound", "example.com",
     [](auto& p) {
         p.sockets.hosts["example.com"] = {A("192.0.2.1"), A("192.0.2.2"), A("192.0.2.3"), A("192.0.2.4")};
         p.Answer({A("198.51.100.1")});  // a content network's other nodes
         for (const char* a : {"192.0.2.1", "192.0.2.2", "192.0.2.3", "192.0.2.4"})
             p.tls.proofs[a] = platform::kProven, p.tls.pause[a] = 1000ms;
     },
     kAsked + "198.51.100.1 ProofBegun proof:192.0.2.1 proof:192.0.2.2 proof:192.0.2.3 proof:192.0.2.4 Concluded ",
     CheckEnd::Proven},
};

using Engine = testing::TestWithParam<Scenario>;
TEST_P(Engine, EventsAndRecord) {
    const Scenario& s = GetParam();
    fakes::Platform p;
    if (s.setUp) s.setUp(p);
    CheckOptions options;
    Recorder recorder;
    const CheckRecord r = RunCheck(s.domain, {p.sockets, p.params, p.shells, p.files, p.tls}, options, recorder);
    EXPECT_EQ(recorder.told, s.told);
    EXPECT_EQ(r.end, s.end);
    EXPECT_EQ(p.sockets.open, 0);
    if (s.more) s.more(r);
}
TARNWELL_ROWS(Engine, kScenarios);

// A window is served while the check waits on a silent server; closing it
// mid-wait unwinds the check with every socket closed.
TEST(Engine, ServesItsCallerWhileItWaits) {
    fakes::Platform p;
    p.sockets.silent = true;
    int serves = 0;
    CheckOptions options;
    options.replyWait = 300ms;
    options.prove = false;
    Recorder recorder;
    const CheckRecord r = RunCheck("example.com", {p.sockets, p.params, p.shells, p.files, p.tls, [&] { ++serves; }},
                                   options, recorder);
    EXPECT_EQ(r.end, CheckEnd::Inconclusive);
    EXPECT_GE(serves, 3);
    EXPECT_THROW(RunCheck("example.com", {p.sockets, p.params, p.shells, p.files, p.tls, [] { throw platform::WindowClosed{}; }},
                          options, recorder),
                 platform::WindowClosed);
    EXPECT_EQ(p.sockets.open, 0);
}

}  // namespace
}  // namespace tarnwell
