// The check engine through a recording listener, on fakes of the platform:
// one table of scenarios, each with the events it tells and how it ends; and
// the probes it runs at once.
#include "engine/BrowserProxy.h"
#include "engine/Check.h"
#include "resolve/ProxyRules.h"
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
        static constexpr const char* kNames[] = {"Rejected",   "Begun",      "Resolved",  "ProxyFound", "QueryBegun",   "ServiceMissing",
                                                 "NoServer",   "ServerChosen", "",        "ProofBegun",   "",
                                                 "Witnessed", "Concluded",  "RegistryRead", "HostsRead"};
        static_assert(std::size(kNames) == std::variant_size_v<CheckEvent>);
        if (const auto* a = std::get_if<event::ServerAddress>(&e)) told += a->address.Text() + " ";
        else if (const auto* p = std::get_if<event::Proved>(&e)) told += "proof:" + r.proofs.at(p->index).address.Text() + " ";
        else if (const auto* d = std::get_if<event::RegistryRead>(&e)) told += "RegistryRead:" + d->directory + " ";
        else told += std::string(kNames[e.index()]) + " ";
    }
};

struct Scenario { const char* name; std::string domain; std::function<void(fakes::Platform&)> setUp; std::string told; CheckEnd end; };

const std::string kAsked = "Begun Resolved QueryBegun ServerChosen ";
const Scenario kScenarios[] = {
    {"mismatch: the registry, then the hosts file", "example.com", [](auto& p) { p.Answer({A("10.1.1.1")}); },
     kAsked + "10.1.1.1 ProofBegun proof:93.184.216.34 Concluded RegistryRead:C:\\WINDOWS\\System32\\drivers\\etc HostsRead ",
     CheckEnd::Mismatch},
    {"proofs told in the resolver's order, the first ending last", "example.com",
     [](auto& p) {
         p.sockets.hosts["example.com"] = {A("192.0.2.1"), A("192.0.2.2")};
         p.Answer({A("192.0.2.1"), A("192.0.2.2")});
         p.tls.late = {"192.0.2.1"};
         p.tls.proofs["192.0.2.2"] = platform::kProven;
     },
     kAsked + "192.0.2.1 192.0.2.2 ProofBegun proof:192.0.2.1 proof:192.0.2.2 Concluded ", CheckEnd::Match},
};

using Engine = testing::TestWithParam<Scenario>;
TEST_P(Engine, EventsAndRecord) {
    const Scenario& s = GetParam();
    fakes::Platform p;
    if (s.setUp) s.setUp(p);
    CheckOptions options;
    Recorder recorder;
    const CheckRecord r = RunCheck(s.domain, {p.sockets, p.params, p.shells, p.files, p.tls, p.http}, options, recorder);
    EXPECT_EQ(recorder.told, s.told);
    EXPECT_EQ(r.end, s.end);
    EXPECT_EQ(p.sockets.open, 0);
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
    const CheckRecord r = RunCheck("example.com", {p.sockets, p.params, p.shells, p.files, p.tls, p.http, [&] { ++serves; }},
                                   options, recorder);
    EXPECT_EQ(r.end, CheckEnd::Inconclusive);
    EXPECT_GE(serves, 3);
    EXPECT_THROW(RunCheck("example.com", {p.sockets, p.params, p.shells, p.files, p.tls, p.http, [] { throw platform::WindowClosed{}; }},
                          options, recorder),
                 platform::WindowClosed);
    EXPECT_EQ(p.sockets.open, 0);
}

// The proxy the check's own requests (a witness's post, an issuer's fetch) go through, as the settings give it
// for their URLs: a manual proxy per scheme but for the bypass list, an auto-config file's first entry, and
// straight whenever the road is not known.
TEST(BrowserProxy, RoadOfTheCheckOwnRequests) {
    using Mode = platform::ProxySettings::Mode;
    fakes::Platform p;
    const ProxyServices services{p.proxy, p.http, p.files, p.sockets};
    ProxyRecord manual{.settings = {Mode::Manual, platform::ProxyOrigin::Environment, "all_proxy", "http://u:p@192.0.2.8:3128",
                                    "all_proxy", "socks5://192.0.2.9", "all_proxy", "w.test"}};
    ProxyRecord pac{.source = ProxySource::AutoConfig, .settings = {Mode::AutoConfig}};
    ProxyRecord failed = pac, off = manual;
    failed.error = PacError::Timeout;
    off.checked = false;
    const std::string script = "function FindProxyForURL(u, h) { return h == 'w.test' ? 'DIRECT' : 'HTTPS p.test:8443; DIRECT'; }";
    const struct { const ProxyRecord* proxy; const char* url; const char* road; } rows[] = {
        {&manual, "https://doh.test/q", "HTTP 192.0.2.8:3128"}, {&manual, "http://ca.test/ca.der", "SOCKS5 192.0.2.9:1080"},
        {&manual, "https://w.test/q", "DIRECT"}, {&manual, "ftp://doh.test/", "DIRECT"}, {&pac, "https://doh.test/q", "HTTPS p.test:8443"},
        {&pac, "https://w.test/", "DIRECT"}, {&failed, "https://doh.test/q", "DIRECT"}, {&off, "https://doh.test/q", "DIRECT"},
        {nullptr, "https://doh.test/q", "DIRECT"}};
    for (const auto& r : rows) {
        const auto proxy = r.proxy ? std::optional(*r.proxy) : std::nullopt;
        const auto by = std::chrono::steady_clock::now() + 1s;
        EXPECT_EQ(proxy::EntryText(RoadOf(proxy, script, r.url, services, by)), r.road) << r.url;
    }
}

}  // namespace
}  // namespace tarnwell
