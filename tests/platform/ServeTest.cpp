// The probes run at once, each on a thread of its own, while the caller is served.
#include "platform/Serve.h"
#include "platform/Tls.h"
#include "tests/fakes/Fakes.h"

#include <gtest/gtest.h>

using namespace tarnwell;
using namespace std::chrono_literals;
using platform::ProofReason;

namespace {

// Probes that end as a table says: after a pause, with a proof, or by throwing.
struct ScriptedTls : platform::Tls {
    struct Step {
        std::chrono::milliseconds pause;
        platform::Proof proof;
        bool throws = false;
    };
    std::map<std::string, Step> steps;
    platform::Proof Probe(const Address& a, const std::string&, std::chrono::steady_clock::time_point,
                          std::uint16_t) override {
        const Step step = steps.at(a.Text());
        std::this_thread::sleep_for(step.pause);
        if (step.throws) throw std::runtime_error("probe");
        return step.proof;
    }
};

TEST(ProbeAll, EveryProofInItsPlaceWhateverOrderTheyEnd) {
    ScriptedTls tls;
    tls.steps = {{"10.0.0.1", {300ms, platform::kProven}},
                 {"10.0.0.2", {0ms, platform::Failed(ProofReason::Name)}},
                 {"10.0.0.3", {0ms, {}, true}},                                 // throws: unknown, internal
                 {"10.0.0.4", {2000ms, platform::kProven}}};                    // past the bound: timed out
    const std::vector<Address> targets = {fakes::A("10.0.0.1"), fakes::A("10.0.0.2"), fakes::A("10.0.0.3"),
                                          fakes::A("10.0.0.4")};
    std::vector<std::size_t> heard;
    int serves = 0;
    const auto proofs = platform::ProbeAll(tls, targets, "a.test", std::chrono::steady_clock::now() + 500ms,
                                           [&] { ++serves; }, [&](std::size_t i, const platform::Proof&) { heard.push_back(i); });
    EXPECT_EQ(proofs, (std::vector<platform::Proof>{platform::kProven, platform::Failed(ProofReason::Name),
                                                     platform::Unknown(ProofReason::Internal),
                                                     platform::Unknown(ProofReason::Timeout)}));
    ASSERT_EQ(heard.size(), 4u);
    EXPECT_EQ(heard.back(), 3u);      // the one left running is heard of last
    EXPECT_GT(serves, 0);             // served while the probes ran
    EXPECT_TRUE(std::is_permutation(heard.begin(), heard.end(), std::vector<std::size_t>{0, 1, 2, 3}.begin()));
    EXPECT_EQ(platform::Proof{}, platform::Unknown(ProofReason::Internal));  // a proof never made means nothing
}

}  // namespace
