// The verdict rules as one table of evidence, and which addresses are probed.
#include "resolve/HostName.h"
#include "resolve/Verdict.h"
#include "tests/Rows.h"
#include "tests/fakes/Fakes.h"

#include <gtest/gtest.h>

namespace tarnwell {
namespace {

using fakes::A;
using fakes::As;
constexpr platform::Proof kProven = platform::kProven;
const platform::Proof kRefused = platform::Unknown(platform::ProofReason::Refused);
const platform::Proof kForged = platform::Failed(platform::ProofReason::Name);
// The witnesses answered with these addresses, whole for IPv4 (and IPv6); or none answered.
std::optional<WitnessAnswer> Said(std::vector<std::string> w, bool v6 = false) {
    return WitnessAnswer{{0}, WitnessResult::Answered, As(w), true, v6};
}
const std::optional<WitnessAnswer> kNobody = WitnessAnswer{};
// The witnesses asked after the computer's addresses could not prove the name; the server's replies whole when it gave any.
Evidence Asked(std::vector<std::string> computer, std::vector<std::string> server, std::optional<WitnessAnswer> said) {
    std::vector<AddressProof> cannot;
    for (const auto& a : As(computer)) cannot.push_back({a, kRefused});
    return {As(computer), As(server), !server.empty(), !server.empty(), cannot, false, false, said};
}

struct Row {
    const char* name;
    Evidence evidence;
    Verdict verdict;
};
const Row kRows[] = {
    {"every address among the server's", {As({"192.0.2.1"}), As({"192.0.2.9", "192.0.2.1"}), true}, Verdict::Match},
    {"a match a local server may echo", {As({"192.0.2.1"}), As({"192.0.2.1"}), true, false, {}, true, true},
     Verdict::LocalEcho},
    {"echo needs a match", {As({"192.0.2.1"}), As({"192.0.2.9"}), true, false, {}, true, true}, Verdict::Mismatch},
    {"missing from whole replies", {As({"192.0.2.1"}), As({"192.0.2.9"}), true}, Verdict::Mismatch},
    {"missing from a truncated reply", {As({"192.0.2.1"}), As({"192.0.2.9"}), false}, Verdict::Inconclusive},
    {"no reply at all", {As({"192.0.2.1"}), {}, false, false}, Verdict::Inconclusive},
    {"IPv6 missing, its replies not whole", {As({"192.0.2.1", "2001:db8::1"}), As({"192.0.2.1"}), true, false},
     Verdict::Inconclusive},
    {"IPv6 missing from whole AAAA replies", {As({"192.0.2.1", "2001:db8::1"}), As({"192.0.2.1"}), false, true},
     Verdict::Mismatch},
    {"both missing, only A whole", {As({"192.0.2.1", "2001:db8::1"}), {}, true, false}, Verdict::Mismatch},
    {"the missing one proves the name",
     {As({"192.0.2.1"}), As({"192.0.2.9"}), true, false, {{A("192.0.2.1"), kProven}}}, Verdict::Proven},
    {"no reply, every address proves the name", {As({"192.0.2.1"}), {}, false, false, {{A("192.0.2.1"), kProven}}},
     Verdict::Proven},
    {"a hosts line keeps the proven one a mismatch",
     {As({"192.0.2.1"}), As({"192.0.2.9"}), true, false, {{A("192.0.2.1"), kProven}}, true}, Verdict::Mismatch},
    {"another address proves, the missing one cannot",
     {As({"192.0.2.1", "192.0.2.2"}), As({"192.0.2.2"}), true, false, {{A("192.0.2.1"), kRefused}, {A("192.0.2.2"), kProven}}},
     Verdict::Mismatch},
    {"a failed proof though the server agrees",
     {As({"192.0.2.1"}), As({"192.0.2.1"}), true, false, {{A("192.0.2.1"), kForged}}, false, true}, Verdict::Impostor},
    {"a failed proof behind a proven one",
     {As({"192.0.2.1", "192.0.2.2"}), {}, false, false, {{A("192.0.2.1"), kProven}, {A("192.0.2.2"), kForged}}},
     Verdict::Impostor},
    {"a witness disputes what both roads agree on", Asked({"192.0.2.1"}, {"192.0.2.1"}, Said({"192.0.2.9"})), Verdict::Disputed},
    {"a witness agrees", Asked({"192.0.2.1"}, {"192.0.2.1"}, Said({"192.0.2.1"})), Verdict::Match},
    {"a witness not whole for the family disputes nothing", Asked({"2001:db8::1"}, {"2001:db8::1"}, Said({"192.0.2.9"})),
     Verdict::Match},
    {"an A record vouches for its DNS64 form", Asked({"64:ff9b::c000:201"}, {"64:ff9b::c000:201"}, Said({"192.0.2.1"}, true)),
     Verdict::Match},
    {"a DNS64 address the witness does not give", Asked({"64:ff9b::c000:201"}, {"64:ff9b::c000:201"},
     Said({"192.0.2.9"}, true)), Verdict::Disputed},
    {"no witness answered", Asked({"192.0.2.1"}, {"192.0.2.1"}, kNobody), Verdict::Unverified},
    {"NXDOMAIN from a witness vouches for nothing",
     Asked({"192.0.2.1"}, {"192.0.2.1"}, WitnessAnswer{{0}, WitnessResult::NxDomain}), Verdict::Match},
    {"no reply: the witness stands in", Asked({"192.0.2.1"}, {}, Said({"192.0.2.1"})), Verdict::Match},
    {"no reply: the witness disagrees", Asked({"192.0.2.1"}, {}, Said({"192.0.2.9"})), Verdict::Mismatch},
    {"no reply: the witness's whole AAAA disagrees", Asked({"2001:db8::1"}, {}, Said({"2001:db8::9"}, true)), Verdict::Mismatch},
    {"a failed proof outweighs a witness",
     {As({"192.0.2.1"}), As({"192.0.2.1"}), true, false, {{A("192.0.2.1"), kForged}}, false, false, Said({"192.0.2.9"})},
     Verdict::Impostor},
};

using Verdicts = testing::TestWithParam<Row>;
TEST_P(Verdicts, Decide) { EXPECT_EQ(Decide(GetParam().evidence), GetParam().verdict); }
TARNWELL_ROWS(Verdicts, kRows);

std::vector<Address> Numbered(int count, int missing = 0) {
    std::vector<Address> out;
    for (int i = 1; i <= count; ++i)
        if (i != missing) out.push_back(A("192.0.2." + std::to_string(i)));
    return out;
}

TEST(ProbeTargets, MissingOnesFirstThenTheFirstFourAtMostSixteen) {
    const struct {
        const char* name;
        std::vector<Address> computer, server, probed;
    } rows[] = {
        {"all agree: the first four", Numbered(5), Numbered(5), Numbered(4)},
        {"the sixth of eight missing", Numbered(8), Numbered(8, 6), As({"192.0.2.1", "192.0.2.2", "192.0.2.3", "192.0.2.4", "192.0.2.6"})},
        {"twenty missing: sixteen", Numbered(20), {}, Numbered(16)},
        {"the last of twenty missing", Numbered(20), Numbered(20, 20),
         As({"192.0.2.1", "192.0.2.2", "192.0.2.3", "192.0.2.4", "192.0.2.20"})},
        {"seventeen missing of twenty", Numbered(20), As({"192.0.2.1", "192.0.2.2", "192.0.2.3"}),
         [] { auto v = Numbered(19); v.erase(v.begin(), v.begin() + 3); return v; }()},
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
    for (const auto& row : rows)
        EXPECT_EQ(AskWitnesses(http, row.urls, MakeHostName("a.test").qname, row.aaaa, std::chrono::seconds(1), {}),
                  (WitnessAnswer{row.answered, row.result, As(row.addresses), row.v4, row.v6})) << row.urls[0];
}

}  // namespace
}  // namespace tarnwell
