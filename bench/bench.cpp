// Micro-benchmarks: the query message, the reply reader, and one whole check
// with a platform that answers at once (the check's own cost, without the
// resolver's and the network's round trips).
//   build/test/bench/tarnwell_bench
#include "app/Fm.h"
#include "resolve/DNS_HostByName.h"
#include "resolve/DNS_IP_READER.h"
#include "resolve/DnsMessage.h"
#include "tests/fakes/Fakes.h"

#include <benchmark/benchmark.h>

namespace tarnwell {
namespace {

using Bytes = std::vector<std::uint8_t>;

void BM_BuildQuery(benchmark::State& s) {
    for (auto _ : s) benchmark::DoNotOptimize(dns::BuildQuery(MakeHostName("example.com").qname));
}
BENCHMARK(BM_BuildQuery);

void BM_BuildQueryIdn(benchmark::State& s) {
    for (auto _ : s) benchmark::DoNotOptimize(dns::BuildQuery(MakeHostName("пример.рф").qname));
}
BENCHMARK(BM_BuildQueryIdn);

// A reply to example.com with N A records; the last one is the match.
void BM_ReadAnswers(benchmark::State& s) {
    const auto n = static_cast<int>(s.range(0));
    std::vector<Bytes> records;
    for (int i = 0; i < n; ++i) records.push_back(fakes::ARecord({10, 1, std::uint8_t(i >> 8), std::uint8_t(i)}));
    const Bytes reply = fakes::ReplyTo(dns::BuildQuery(MakeHostName("example.com").qname), records);
    CheckState state;
    state.HostIPs = {"10.1.0." + std::to_string(n - 1)};
    fakes::FakeTextBox report;
    for (auto _ : s) {
        report.text.clear();
        state.IpMatch = false;
        DirectAnswer answer;
        ReadAnswers(dns::ReadReply(reply), answer, state, report);
        benchmark::DoNotOptimize(report.text.data());
    }
    if (report.text.size() < 9u * n || !state.IpMatch) s.SkipWithError("not every record read");
    s.SetItemsProcessed(s.iterations() * n);
}
BENCHMARK(BM_ReadAnswers)->Arg(1)->Arg(16)->Arg(126);

// One whole Cmd1_Click: resolver, discovery and server answer at once, the
// verdict a match (mismatch: also the registry read and the warning).
void Check(benchmark::State& s, bool match) {
    fakes::CheckRig rig;
    if (!match) rig.Answer({{10, 1, 1, 1}});
    rig.view.combo.text = "example.com";
    for (auto _ : s) {
        rig.fm.Cmd1_Click();
        rig.sockets.lookedUp.clear();
    }
    const CheckEnd want = match ? CheckEnd::Match : CheckEnd::Mismatch;
    if (rig.fm.LastCheckEnd() != want || !rig.box.shown.empty()) s.SkipWithError("unexpected verdict");
}
void BM_CheckMatch(benchmark::State& s) { Check(s, true); }
void BM_CheckMismatch(benchmark::State& s) { Check(s, false); }
BENCHMARK(BM_CheckMatch)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_CheckMismatch)->Unit(benchmark::kMicrosecond);

}  // namespace
}  // namespace tarnwell

BENCHMARK_MAIN();
