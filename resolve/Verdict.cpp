#include "resolve/Verdict.h"

#include <algorithm>

namespace tarnwell {

namespace {

template <class List>
bool Contains(const List& list, const Address& address) {
    return std::find(list.begin(), list.end(), address) != list.end();
}

bool Has(const std::vector<AddressProof>& proofs, const Address& address, platform::ProofResult result) {
    return std::any_of(proofs.begin(), proofs.end(),
                       [&](const AddressProof& p) { return p.address == address && p.proof.result == result; });
}

}  // namespace

std::vector<Address> Missing(const std::vector<Address>& computer, const std::vector<Address>& server) {
    std::vector<Address> missing;
    for (const auto& a : computer)
        if (!Contains(server, a)) missing.push_back(a);
    return missing;
}

std::vector<Address> ProbeTargets(const std::vector<Address>& computer, const std::vector<Address>& server) {
    std::vector<Address> eligible;
    for (const auto& a : computer)
        if (!a.IsLoopback() && !a.IsUnspecified()) eligible.push_back(a);
    std::vector<Address> chosen;
    const auto choose = [&](const Address& a) {
        if (chosen.size() < kMaxProbed && !Contains(chosen, a)) chosen.push_back(a);
    };
    for (const auto& a : Missing(eligible, server)) choose(a);
    for (std::size_t i = 0; i < eligible.size() && i < kFirstProbed; ++i) choose(eligible[i]);
    std::vector<Address> targets;
    for (const auto& a : eligible)
        if (Contains(chosen, a)) targets.push_back(a);
    return targets;
}

Verdict Decide(const Evidence& e) {
    const auto failed = [](const AddressProof& p) { return p.proof.result == platform::ProofResult::Failed; };
    if (std::any_of(e.proofs.begin(), e.proofs.end(), failed)) return Verdict::Impostor;
    const auto missing = Missing(e.computer, e.server);
    if (missing.empty()) return e.echo ? Verdict::LocalEcho : Verdict::Match;
    // What is left to explain: the missing addresses that did not prove the
    // name, or all of them when a hosts line maps it.
    std::vector<Address> unexplained;
    for (const auto& a : missing)
        if (!Has(e.proofs, a, platform::ProofResult::Proven) || e.hostsLineMaps) unexplained.push_back(a);
    if (unexplained.empty()) return Verdict::Proven;
    // Each family is judged on its own replies: one whose whole replies lack
    // an address of the computer's is a mismatch, whatever the other's say.
    const bool whole = std::any_of(unexplained.begin(), unexplained.end(),
                                   [&](const Address& a) { return a.IsV4() ? e.wholeV4 : e.wholeV6; });
    return whole ? Verdict::Mismatch : Verdict::Inconclusive;
}

}  // namespace tarnwell
