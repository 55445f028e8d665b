#include "platform/Tls.h"

#include <condition_variable>
#include <memory>
#include <mutex>
#include <optional>
#include <thread>

namespace tarnwell::platform {

namespace {

using Clock = std::chrono::steady_clock;

// A probe's own bound is the deadline; past it a probe is waited for only
// this much longer before it counts as timed out.
constexpr std::chrono::milliseconds kGrace{250};

// What the probes' threads and the waiting caller share. The threads hold it
// too, so that one left running past the grace finds it still there.
struct Shared {
    std::mutex mutex;
    std::condition_variable changed;
    std::vector<std::optional<Proof>> proofs;
};

}  // namespace

std::vector<Proof> ProbeAll(Tls& tls, const std::vector<Address>& addresses, const std::string& name,
                            Clock::time_point deadline, const Serve& serve, const ProbeEnded& ended,
                            std::uint16_t port) {
    const auto shared = std::make_shared<Shared>();
    shared->proofs.resize(addresses.size());
    const auto probe = [shared, &tls, name, deadline, port](const Address& address, std::size_t i) {
        Proof proof;  // unknown, internal: what a probe that throws gives
        try {
            proof = tls.Probe(address, name, deadline, port);
        } catch (...) {
        }
        std::lock_guard lock(shared->mutex);
        shared->proofs[i] = proof;
        shared->changed.notify_all();
    };
    // With nobody to serve and probes that keep their bound, the first runs
    // on the calling thread while the others run on theirs.
    const std::size_t first = !serve && tls.Bounded() && !addresses.empty() ? 1 : 0;
    std::vector<std::thread> threads(addresses.size());
    for (std::size_t i = first; i < addresses.size(); ++i) threads[i] = std::thread(probe, addresses[i], i);
    if (first) probe(addresses[0], 0);

    std::vector<Proof> proofs(addresses.size(), Unknown(ProofReason::Timeout));
    std::vector<bool> heard(addresses.size(), false);
    std::size_t left = addresses.size();
    const auto giveUp = deadline + kGrace;
    // Threads not joined when serving throws (the window closed) are left to
    // themselves: they hold the shared state and the Tls, which outlives them.
    struct Leave {
        std::vector<std::thread>& threads;
        ~Leave() {
            for (auto& t : threads)
                if (t.joinable()) t.detach();
        }
    } leave{threads};
    std::unique_lock lock(shared->mutex);
    while (left > 0) {
        for (std::size_t i = 0; i < addresses.size(); ++i) {
            if (heard[i] || !shared->proofs[i]) continue;
            heard[i] = true;
            --left;
            proofs[i] = *shared->proofs[i];
            if (threads[i].joinable()) threads[i].join();  // it has only to return
            if (ended) {
                lock.unlock();
                ended(i, proofs[i]);
                lock.lock();
            }
        }
        if (left == 0 || Clock::now() >= giveUp) break;
        const auto until = serve ? std::min(giveUp, Clock::now() + kServeSlice) : giveUp;
        shared->changed.wait_until(lock, until);
        if (serve && Clock::now() < giveUp) {
            lock.unlock();
            serve();
            lock.lock();
        }
    }
    lock.unlock();
    // A probe still running past the grace counts as timed out.
    for (std::size_t i = 0; i < addresses.size(); ++i)
        if (!heard[i] && ended) ended(i, proofs[i]);
    return proofs;
}

}  // namespace tarnwell::platform
