// The verdict rules as one table of evidence, and which addresses are probed.
#include "resolve/HostName.h"
#include "resolve/Verdict.h"
#include "tests/Rows.h"
#include "tests/fakes/Fakes.h"

#include <gtest/gtest.h>
#include <sstream>

namespace tarnwell {
namespace {

using fakes::A;
using fakes::As;
using platform::ProofReason;
const platform::Proof kProven = platform::kProven;
const platform::Proof kRefused = platform::Unknown(ProofReason::Refused);
const platform::Proof kForged = platform::Failed(ProofReason::Name);

// Evidence written as a sentence: the computer's and the server's addresses
// (the server's replies whole for both families unless said), then what
// else was found.
struct Ev : Evidence {
    Ev(std::vector<std::string> c, std::vector<std::string> s, bool whole = true) {
        computer = As(c), server = As(s), wholeV4 = wholeV6 = whole;
    }
    Ev& NotWhole(bool v4, bool v6) { return wholeV4 = !v4 && wholeV4, wholeV6 = !v6 && wholeV6, *this; }
    Ev& Proof(const char* a, platform::Proof p) { return proofs.push_back({A(a), p}), *this; }
    Ev& Hosts() { return hostsLineMaps = true, *this; }
    Ev& Echo() { return echo = true, *this; }
    Ev& Local() { return localName = true, *this; }
    // One witness more, whole for the families it is said to be, giving `w`.
    Ev& W(std::vector<std::string> w, bool v4 = true, bool v6 = true) {
        if (!witness) witness = WitnessAnswer{{}, WitnessResult::Silent};
        witness->each.push_back({v4, v6, As(w)});
        if (v4 || v6) witness->answered.push_back(witness->each.size() - 1), witness->result = WitnessResult::Answered;
        for (const auto& a : As(w)) witness->addresses.push_back(a);
        witness->wholeV4 |= v4, witness->wholeV6 |= v6;
        return *this;
    }
    Ev& Nobody() { return W({}, false, false); }
    // The browser's road: P a proxy, D DIRECT, in order; each proxy's proof through it; why it is in doubt.
    Ev& Road(std::string_view entries, std::vector<platform::Proof> through, ProxyDoubt doubt = ProxyDoubt::None) {
        const platform::ProxyEntry p{platform::ProxyScheme::Http, "p.test", 3128};
        proxy = ProxyEvidence{{}, {}, doubt};
        for (const char c : entries) proxy->entries.push_back(c == 'P' ? p : platform::ProxyEntry{});
        for (const auto& proof : through) proxy->proofs.push_back({A("192.0.2.80"), proof, p});
        return *this;
    }
};

// Each address's state as its name, then the address that decided; the witnesses that decided it by index.
std::string Said(const Judgement& j) {
    constexpr const char* kNames[] = {"impostor",   "blocked",     "disputed",   "missing", "unproven", "filtered",
                                      "unverified", "unconfirmed", "unanswered", "proven",  "vouched",  "unused"};
    std::ostringstream s;
    for (const auto& v : j.addresses) {
        s << (&v == &j.addresses.front() ? "" : " ") << kNames[static_cast<int>(v.state)];
        for (const auto w : v.witnesses) s << '#' << w;
    }
    if (j.decisive) s << " @" << j.addresses[*j.decisive].address.Text();
    if (j.witnessStoodIn) s << " (W for S)";
    for (const auto& v : j.proxies) s << " via:" << kNames[static_cast<int>(v.state)];
    if (j.decisiveProxy) s << " @via" << *j.decisiveProxy;
    if (j.doubt != ProxyDoubt::None) s << " ?" << static_cast<int>(j.doubt);  // 1 silent, 2 unknown, 3 differs, 4 off
    return s.str();
}

struct Row {
    const char* name;
    Evidence evidence;
    Verdict verdict;
    const char* states;  // as Said() writes them
};
const Row kRows[] = {
    // With the witnesses off (or no proof), as before them.
    {"every address among the server's", Ev({"192.0.2.1"}, {"192.0.2.9", "192.0.2.1"}), Verdict::Match, "vouched"},
    {"a match a local server may echo", Ev({"192.0.2.1"}, {"192.0.2.1"}).Echo(), Verdict::LocalEcho,
     "unanswered @192.0.2.1"},
    {"echo needs a match", Ev({"192.0.2.1"}, {"192.0.2.9"}).Echo(), Verdict::Mismatch, "missing @192.0.2.1"},
    {"missing from a truncated reply", Ev({"192.0.2.1"}, {"192.0.2.9"}, false), Verdict::Inconclusive,
     "unanswered @192.0.2.1"},
    {"IPv6 missing, its replies not whole", Ev({"192.0.2.1", "2001:db8::1"}, {"192.0.2.1"}).NotWhole(false, true),
     Verdict::Inconclusive, "vouched unanswered @2001:db8::1"},
    {"both missing, only A whole", Ev({"192.0.2.1", "2001:db8::1"}, {}).NotWhole(false, true), Verdict::Mismatch,
     "missing unanswered @192.0.2.1"},
    {"the missing one proves the name", Ev({"192.0.2.1"}, {"192.0.2.9"}).Proof("192.0.2.1", kProven), Verdict::Proven,
     "proven @192.0.2.1"},
    {"no reply, every address proves", Ev({"192.0.2.1"}, {}, false).Proof("192.0.2.1", kProven), Verdict::Proven,
     "proven @192.0.2.1"},
    {"proven among the server's: a match", Ev({"192.0.2.1"}, {"192.0.2.1"}).Proof("192.0.2.1", kProven), Verdict::Match,
     "proven"},
    {"a hosts line keeps the proven one missing", Ev({"192.0.2.1"}, {"192.0.2.9"}).Proof("192.0.2.1", kProven).Hosts(),
     Verdict::Mismatch, "missing @192.0.2.1"},
    {"a hosts line, no whole reply: the proof counts for nothing",
     Ev({"192.0.2.1"}, {}, false).Proof("192.0.2.1", kProven).Hosts(), Verdict::Inconclusive, "unanswered @192.0.2.1"},
    {"a hosts line's address the server gives goes on", Ev({"192.0.2.1"}, {"192.0.2.1"}).Hosts().Proof("192.0.2.1", kProven),
     Verdict::Match, "proven"},
    {"a failed proof though the server agrees", Ev({"192.0.2.1"}, {"192.0.2.1"}).Proof("192.0.2.1", kForged),
     Verdict::Impostor, "impostor @192.0.2.1"},
    {"a failed proof with a hosts line", Ev({"192.0.2.1"}, {"192.0.2.9"}).Proof("192.0.2.1", kForged).Hosts(),
     Verdict::Impostor, "impostor @192.0.2.1"},
    {"loopback from both roads, witnesses off", Ev({"127.0.0.1"}, {"127.0.0.1"}), Verdict::Match, "vouched"},
    // Through the browser's proxy.
    {"a substituting proxy", Ev({"192.0.2.1"}, {"192.0.2.1"}).Proof("192.0.2.1", kProven).Road("P", {kForged}),
     Verdict::Impostor, "proven via:impostor @via0"},
    {"an honest relay: the direct address unused", Ev({"192.0.2.1"}, {"192.0.2.9"}).Proof("192.0.2.1", kRefused).Road("P", {kProven}),
     Verdict::Match, "unused via:proven"},
    {"a dead proxy, then a substituting one", Ev({"192.0.2.1"}, {"192.0.2.1"}).Road("PP", {kRefused, kForged}),
     Verdict::Impostor, "vouched via:unverified via:impostor @via1"},
    {"an HTTP-only shared host behind an honest proxy",
     Ev({"192.0.2.1"}, {"192.0.2.1"}).Proof("192.0.2.1", kForged).W({"192.0.2.1"}).Road("P", {kForged}),
     Verdict::Unproven, "unproven#0 @192.0.2.1 via:unproven"},
    {"... with an address that cannot be reached", Ev({"192.0.2.1", "2001:db8::1"}, {"192.0.2.1", "2001:db8::1"})
     .Proof("192.0.2.1", kForged).Proof("2001:db8::1", kRefused).W({"192.0.2.1", "2001:db8::1"}).Road("P", {kForged}),
     Verdict::Unproven, "unproven#0 vouched#0 @192.0.2.1 via:unproven"},
    {"a silent proxy and nothing else", Ev({"192.0.2.1"}, {"192.0.2.1"}).Proof("192.0.2.1", kProven).Road("P", {kRefused}),
     Verdict::Unverified, "proven via:unverified @via0 ?1"},
    {"a silent proxy, then DIRECT", Ev({"192.0.2.1"}, {"192.0.2.1"}).Proof("192.0.2.1", kProven).Road("PD", {kRefused}),
     Verdict::Match, "proven via:unverified"},
    {"DIRECT after a proxy that proved: the direct address judged",
     Ev({"192.0.2.1"}, {"192.0.2.1"}).Proof("192.0.2.1", kForged).Road("PD", {kProven}), Verdict::Impostor,
     "impostor @192.0.2.1 via:proven"},
    {"an auto-config file that could not run", Ev({"192.0.2.1"}, {"192.0.2.1"}).Proof("192.0.2.1", kProven).Road("", {}, ProxyDoubt::Unknown),
     Verdict::Unverified, "proven ?2"},
    {"roads that differ hold no worse verdict back", Ev({"192.0.2.1"}, {"192.0.2.9"}).Road("D", {}, ProxyDoubt::Differs),
     Verdict::Mismatch, "missing @192.0.2.1"},
    // The witnesses asked.
    {"a witness disputes what both roads agree on", Ev({"192.0.2.1"}, {"192.0.2.1"}).Proof("192.0.2.1", kRefused).W({"192.0.2.9"}),
     Verdict::Disputed, "disputed#0 @192.0.2.1"},
    {"a witness agrees", Ev({"192.0.2.1"}, {"192.0.2.1"}).Proof("192.0.2.1", kRefused).W({"192.0.2.1"}), Verdict::Match,
     "vouched#0"},
    {"vouched: only the witness that gives it is named", Ev({"192.0.2.1"}, {"192.0.2.1"}).W({"192.0.2.1"}).W({"192.0.2.9"}),
     Verdict::Match, "vouched#0"},
    {"only a witness whole for the family is named", Ev({"2001:db8::1"}, {"2001:db8::1"}).W({"192.0.2.1"}, true, false)
         .W({"2001:db8::9"}), Verdict::Disputed, "disputed#1 @2001:db8::1"},
    {"a witness not whole for the family", Ev({"2001:db8::1"}, {"2001:db8::1"}).W({"192.0.2.9"}, true, false),
     Verdict::Unverified, "unverified @2001:db8::1"},
    {"no witness answered", Ev({"192.0.2.1"}, {"192.0.2.1"}).Nobody(), Verdict::Unverified, "unverified @192.0.2.1"},
    {"the mixed answer: a phishing host beside a genuine node",
     Ev({"192.0.2.66", "192.0.2.1"}, {"192.0.2.66", "192.0.2.1"}).Proof("192.0.2.66", kRefused).Proof("192.0.2.1", kProven)
         .W({"192.0.2.1"}), Verdict::Unconfirmed, "unconfirmed#0 proven @192.0.2.66"},
    {"a dead pool node the witness lists", Ev({"192.0.2.2", "192.0.2.1"}, {"192.0.2.2", "192.0.2.1"})
         .Proof("192.0.2.2", kRefused).Proof("192.0.2.1", kProven).W({"192.0.2.1", "192.0.2.2"}), Verdict::Match,
     "vouched#0 proven"},
    {"one family dropped on the way", Ev({"2001:db8::66"}, {"2001:db8::66"}).W({"192.0.2.1"}, true, false),
     Verdict::Unverified, "unverified @2001:db8::66"},
    {"the DNS64 form of a witness's A record, nothing proved",
     Ev({"64:ff9b::c000:201"}, {"64:ff9b::c000:201"}).W({"192.0.2.1"}), Verdict::Unconfirmed, "unconfirmed#0 @64:ff9b::c000:201"},
    {"the same under another prefix", Ev({"2001:db8:64::c000:201"}, {}, false).W({"192.0.2.1"}), Verdict::Unconfirmed,
     "unconfirmed#0 @2001:db8:64::c000:201"},
    {"the same under a /64 prefix", Ev({"2001:db8:1:2:c0:2:100::"}, {}, false).W({"192.0.2.1"}), Verdict::Unconfirmed,
     "unconfirmed#0 @2001:db8:1:2:c0:2:100:0"},
    {"a DNS64 address that proves", Ev({"64:ff9b::c000:201"}, {"64:ff9b::c000:201"}).Proof("64:ff9b::c000:201", kProven)
         .W({"192.0.2.1"}), Verdict::Match, "proven"},
    {"NXDOMAIN from the witness vouches for nothing",
     Ev({"192.0.2.1"}, {"192.0.2.1"}).W({}, false, false), Verdict::Unverified, "unverified @192.0.2.1"},
    {"no reply: the witness stands in", Ev({"192.0.2.1"}, {}, false).W({"192.0.2.1"}), Verdict::Match, "vouched#0 (W for S)"},
    {"no reply: the witness disagrees", Ev({"192.0.2.1"}, {}, false).W({"192.0.2.9"}), Verdict::Mismatch,
     "missing#0 @192.0.2.1 (W for S)"},
    {"no reply: NXDOMAIN from the witness stands in for nothing", Ev({"192.0.2.1"}, {}, false).W({}, false, false),
     Verdict::Unverified, "unverified @192.0.2.1"},
    {"missing from the server's whole reply though the witness agrees", Ev({"192.0.2.1"}, {"192.0.2.9"}).W({"192.0.2.1"}),
     Verdict::Match, "vouched#0"},
    {"missing from whole replies, the witness silent", Ev({"192.0.2.1"}, {"192.0.2.9"}).Nobody(), Verdict::Mismatch,
     "missing @192.0.2.1"},
    {"a certificate failed, the witness gives it: unproven", Ev({"192.0.2.1"}, {"192.0.2.1"}).Proof("192.0.2.1", kForged)
         .W({"192.0.2.1"}).W({"192.0.2.9"}), Verdict::Unproven, "unproven#0 @192.0.2.1"},
    {"... but another address proved: impostor", Ev({"192.0.2.1", "192.0.2.2"}, {"192.0.2.1", "192.0.2.2"})
         .Proof("192.0.2.1", kForged).Proof("192.0.2.2", kProven).W({"192.0.2.1", "192.0.2.2"}), Verdict::Impostor,
     "impostor proven @192.0.2.1"},
    {"a failed proof the witness does not give", Ev({"192.0.2.1"}, {"192.0.2.1"}).Proof("192.0.2.1", kForged).W({"192.0.2.9"}),
     Verdict::Impostor, "impostor @192.0.2.1"},
    {"the DNS answers this computer", Ev({"127.0.0.1"}, {"127.0.0.1"}).W({"192.0.2.1"}), Verdict::Blocked,
     "blocked#0 @127.0.0.1"},
    {"the DNS answers the unspecified address", Ev({"0.0.0.0"}, {"0.0.0.0"}).W({"192.0.2.1"}), Verdict::Filtered,
     "filtered#0 @0.0.0.0"},
    {"a public name whose witnesses say 127.0.0.1", Ev({"127.0.0.1"}, {"127.0.0.1"}).W({"127.0.0.1"}), Verdict::Match,
     "vouched#0"},
    {"loopback, the witness not whole", Ev({"::1"}, {"::1"}).W({"192.0.2.1"}, true, false), Verdict::Unverified,
     "unverified @::1"},
    {"a localhost name", Ev({"127.0.0.1"}, {}, false).Local().W({}, false, false), Verdict::Match, "vouched"},
    {"0.0.0.0 for a localhost name is no filter", Ev({"0.0.0.0"}, {"0.0.0.0"}).Local().W({"192.0.2.1"}), Verdict::Match,
     "vouched"},
    {"a DNS64 form named by the witness whose A record it embeds", Ev({"64:ff9b::c000:201"}, {"64:ff9b::c000:201"})
         .W({"192.0.2.1"}, true, false), Verdict::Unconfirmed, "unconfirmed#0 @64:ff9b::c000:201"},
    {"a hosts line to an address a rogue server also gives", Ev({"192.0.2.66"}, {"192.0.2.66"}).Hosts()
         .Proof("192.0.2.66", kRefused).W({"192.0.2.1"}), Verdict::Disputed, "disputed#0 @192.0.2.66"},
    // The outcome is the most severe state, the first such address named.
    {"blocked outweighs disputed", Ev({"192.0.2.66", "127.0.0.1"}, {"192.0.2.66", "127.0.0.1"}).W({"192.0.2.1"}),
     Verdict::Blocked, "disputed#0 blocked#0 @127.0.0.1"},
    {"disputed outweighs missing", Ev({"192.0.2.7", "192.0.2.66"}, {"192.0.2.66"}).NotWhole(true, false).W({"192.0.2.1"}),
     Verdict::Disputed, "missing#0 disputed#0 @192.0.2.66"},
    {"missing outweighs unproven", Ev({"192.0.2.1", "2001:db8::7"}, {"192.0.2.1"}).Proof("192.0.2.1", kForged).W({"192.0.2.1"}),
     Verdict::Mismatch, "unproven#0 missing @2001:db8::7"},
    {"unproven outweighs filtered", Ev({"0.0.0.0", "192.0.2.1"}, {"0.0.0.0", "192.0.2.1"}).Proof("192.0.2.1", kForged)
         .W({"192.0.2.1"}), Verdict::Unproven, "filtered#0 unproven#0 @192.0.2.1"},
    {"filtered outweighs unverified", Ev({"2001:db8::1", "0.0.0.0"}, {"2001:db8::1", "0.0.0.0"}).W({}, true, false),
     Verdict::Filtered, "unverified filtered#0 @0.0.0.0"},
    {"unverified and unconfirmed weigh the same: the first named",
     Ev({"192.0.2.66", "2001:db8::1", "192.0.2.1"}, {"192.0.2.66", "2001:db8::1", "192.0.2.1"})
         .Proof("192.0.2.1", kProven).W({"192.0.2.1"}, true, false), Verdict::Unconfirmed,
     "unconfirmed#0 unverified proven @192.0.2.66"},
};

using Verdicts = testing::TestWithParam<Row>;
TEST_P(Verdicts, Decide) {
    const auto& row = GetParam();
    const Judgement j = Decide(row.evidence);
    EXPECT_EQ(j.verdict, row.verdict);
    EXPECT_EQ(Said(j), row.states);
}
TARNWELL_ROWS(Verdicts, kRows);

// The name goes to the witnesses only for an address that the proof, a hosts line or the name itself does not decide.
TEST(Verdicts, NeedsWitness) {
    EXPECT_FALSE(NeedsWitness(Ev({"127.0.0.1"}, {}, false).Local()));
    EXPECT_FALSE(NeedsWitness(Ev({"192.0.2.1"}, {"192.0.2.9"}).Hosts()));
    EXPECT_FALSE(NeedsWitness(Ev({"192.0.2.1"}, {}, false).Proof("192.0.2.1", kProven)));
    EXPECT_TRUE(NeedsWitness(Ev({"192.0.2.1"}, {}, false)));
    EXPECT_TRUE(NeedsWitness(Ev({"127.0.0.1"}, {"127.0.0.1"})));
    EXPECT_FALSE(NeedsWitness(Ev({"192.0.2.1"}, {}, false).Road("P", {kProven})));  // never used
}

std::vector<Address> Numbered(int count, int missing = 0) {
    std::vector<Address> out;
    for (int i = 1; i <= count; ++i)
        if (i != missing) out.push_back(A("192.0.2." + std::to_string(i)));
    return out;
}

TEST(ProbeTargets, EveryAddressTheMissingFirstAtMostThirtyTwo) {
    const struct {
        const char* name;
        std::vector<Address> computer, server, probed;
    } rows[] = {
        {"all agree: every one", Numbered(5), Numbered(5), Numbered(5)},
        {"forty missing: thirty-two", Numbered(40), {}, Numbered(32)},
        {"the last of forty missing", Numbered(40), Numbered(40, 40), [] { auto v = Numbered(31); v.push_back(A("192.0.2.40")); return v; }()},
        {"thirty-three missing of forty", Numbered(40), Numbered(7),
         [] { auto v = Numbered(39); v.erase(v.begin(), v.begin() + 7); return v; }()},
        {"this computer is never probed", As({"0.0.0.0", "127.0.0.1", "::", "::1", "127.1.2.3"}), {}, {}},
        {"a blocking line before the site's address", As({"0.0.0.0", "192.0.2.7"}), As({"192.0.2.7"}), As({"192.0.2.7"})},
    };
    for (const auto& row : rows) EXPECT_EQ(ProbeTargets(row.computer, row.server), row.probed) << row.name;
}

// Several witnesses asked at once (each reply's reading is MessageTest's):
// each one's result, the first to answer's, the union of whole replies.
TEST(Witnesses, AskedAtOnceAndReadTogether) {
    fakes::FakeHttp http;
    http.zone = {{"nx", {}}, {"both", As({"2001:db8::1", "192.0.2.1"})}, {"v4", As({"192.0.2.1"})},
                 {"v4two", As({"192.0.2.1", "192.0.2.2"})}};
    http.ends = {{"silent", platform::HttpsEnd::Timeout}, {"untrusted", platform::HttpsEnd::Untrusted}};
    const struct { std::vector<std::string> urls; bool aaaa; std::vector<std::size_t> answered; WitnessResult result;
                   std::vector<std::string> addresses; bool v4, v6; } rows[] = {
        {{"silent", "untrusted", "refused"}, true, {}, WitnessResult::Silent, {}, false, false},
        {{"nx"}, true, {0}, WitnessResult::NxDomain, {}, false, false},
        {{"untrusted", "both"}, true, {1}, WitnessResult::Answered, {"192.0.2.1", "2001:db8::1"}, true, true},
        {{"v4"}, true, {0}, WitnessResult::Answered, {"192.0.2.1"}, true, true},  // NODATA is whole for IPv6
        {{"v4"}, false, {0}, WitnessResult::Answered, {"192.0.2.1"}, true, false},
        {{"both", "v4two"}, true, {0, 1}, WitnessResult::Answered, {"192.0.2.1", "192.0.2.2", "2001:db8::1"}, true, true},
    };
    for (const auto& row : rows) {
        auto got = AskWitnesses(http, row.urls, MakeHostName("a.test").qname, row.aaaa, std::chrono::seconds(1), {});
        EXPECT_EQ(got.each.size(), row.urls.size());
        EXPECT_EQ(got.each.back().addresses, As(row.addresses).size() == 3 ? As({"192.0.2.1", "192.0.2.2"}) : got.addresses);
        got.each.clear();
        EXPECT_EQ(got, (WitnessAnswer{row.answered, row.result, As(row.addresses), row.v4, row.v6})) << row.urls[0];
    }
}

}  // namespace
}  // namespace tarnwell
