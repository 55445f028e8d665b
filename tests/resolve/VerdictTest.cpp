// The verdict rules as one table of evidence, and which addresses are probed.
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

}  // namespace
}  // namespace tarnwell
