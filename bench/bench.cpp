// Micro-benchmarks: the query message, the reply reader, one whole check
// with a platform that answers at once (the check's own cost, without the
// resolver's and the network's round trips), and the hosts file's lines.
//   build/test/bench/tarnwell_bench
#include "app/Fm.h"
#include "engine/BrowserProxy.h"
#include "platform/posix/LinuxProxy.h"
#include "resolve/HostName.h"
#include "resolve/Verdict.h"
#include "resolve/DnsMessage.h"
#include "resolve/HostsFile.h"
#include "tests/fakes/Fakes.h"

#include <benchmark/benchmark.h>

#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <new>

#include <malloc.h>

// The heap through operator new, counted while `counting` is on (only
// around the one call measured, so that the other benchmarks pay nothing):
// the bytes in use and the most in use, as glibc's malloc_usable_size gives
// them (at least what was asked for). new[] and the nothrow forms come here
// through the library's own definitions; the aligned forms are not used by
// the code measured. Not inlined: the compiler would pair new with free and
// warn.
namespace heap {
std::atomic<bool> counting{false};
std::atomic<std::size_t> inUse{0}, peak{0};
// The most bytes in use at once during f(), above those in use before.
template <class F>
std::size_t PeakDuring(F&& f) {
    inUse = 0;
    peak = 0;
    counting = true;
    f();
    counting = false;
    return peak;
}
}  // namespace heap

[[gnu::noinline]] void* operator new(std::size_t size) {
    void* block = std::malloc(size ? size : 1);
    if (!block) throw std::bad_alloc();
    if (heap::counting.load(std::memory_order_relaxed)) {
        const std::size_t now = heap::inUse += ::malloc_usable_size(block);
        std::size_t p = heap::peak;
        while (now > p && !heap::peak.compare_exchange_weak(p, now)) {
        }
    }
    return block;
}
[[gnu::noinline]] void operator delete(void* p) noexcept {
    if (p && heap::counting.load(std::memory_order_relaxed)) heap::inUse -= ::malloc_usable_size(p);
    std::free(p);
}
[[gnu::noinline]] void operator delete(void* p, std::size_t) noexcept { operator delete(p); }

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

// A reply to example.com with N A records read, and the computer's
// address looked up among them; the last one is the match.
void BM_ReadAnswers(benchmark::State& s) {
    const auto n = static_cast<int>(s.range(0));
    std::vector<Bytes> records;
    for (int i = 0; i < n; ++i) records.push_back(fakes::AddressRecord(fakes::A("10.1." + std::to_string(i >> 8) + "." + std::to_string(i & 0xFF))));
    const Bytes reply = fakes::ReplyTo(dns::BuildQuery(MakeHostName("example.com").qname), records);
    const std::vector<Address> computer = {fakes::A("10.1.0." + std::to_string(n - 1))};
    bool match = false;
    for (auto _ : s) {
        const auto reading = dns::ReadReply(reply);
        match = reading.addresses.size() == static_cast<std::size_t>(n) && Missing(computer, reading.addresses).empty();
        benchmark::DoNotOptimize(reading.addresses.data());
    }
    if (!match) s.SkipWithError("not every record read");
    s.SetItemsProcessed(s.iterations() * n);
}
BENCHMARK(BM_ReadAnswers)->Arg(1)->Arg(16)->Arg(126);

// One whole Cmd1_Click: resolver, discovery and server answer at once, the
// verdict a match (mismatch: also the registry read and the warning).
void Check(benchmark::State& s, bool match) {
    fakes::CheckRig rig;
    if (!match) rig.Answer({fakes::A("10.1.1.1")});
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

// An ad blocker's hosts file: 200,000 lines "0.0.0.0 adNNNNNN.example.com"
// (5.8 MB); the name looked up is on the last line. The peak is of the
// bytes allocated through operator new during one call, outside the timed
// loop (the file itself is allocated before).
void BM_FindLines(benchmark::State& s) {
    constexpr int kLines = 200000;
    std::string file;
    file.reserve(kLines * 29);
    char line[40];
    for (int i = 0; i < kLines; ++i) file.append(line, std::snprintf(line, sizeof line, "0.0.0.0 ad%06d.example.com\n", i));
    const std::string name = "ad199999.example.com";
    hosts::Matches once;
    const std::size_t peak = heap::PeakDuring([&] { once = hosts::FindLines(file, name, platform::kGlibcHosts); });
    if (once.total != 1 || once.lines.at(0).number != kLines || !once.lines[0].blocking) s.SkipWithError("not found");
    for (auto _ : s) benchmark::DoNotOptimize(hosts::FindLines(file, name, platform::kGlibcHosts));
    s.SetBytesProcessed(s.iterations() * static_cast<std::int64_t>(file.size()));
    s.counters["file_bytes"] = static_cast<double>(file.size());
    s.counters["peak_heap_bytes"] = static_cast<double>(peak);
}
BENCHMARK(BM_FindLines)->Unit(benchmark::kMillisecond);

// The proxy stage with nothing set, as a check meets it on a desktop without
// proxy settings: the environment read by the platform's own reader (no
// variable, no desktop), nothing fetched or run. Target: under 1 ms.
void BM_ProxyStageNothingSet(benchmark::State& s) {
    for (const char* name : {"auto_proxy", "all_proxy", "https_proxy", "http_proxy", "no_proxy", "AUTO_PROXY", "ALL_PROXY",
                             "HTTPS_PROXY", "HTTP_PROXY", "NO_PROXY", "SOCKS_SERVER", "XDG_CURRENT_DESKTOP"})
        ::unsetenv(name);
    platform::LinuxProxySettings reader;
    fakes::Platform p;
    const ProxyServices services{reader, p.http, p.files, p.sockets};
    for (auto _ : s)
        if (FindBrowserProxy("example.com", services, true, std::chrono::steady_clock::now() + kProxyWait))
            s.SkipWithError("a proxy is set");
}
BENCHMARK(BM_ProxyStageNothingSet)->Unit(benchmark::kMicrosecond);

}  // namespace
}  // namespace tarnwell

BENCHMARK_MAIN();
