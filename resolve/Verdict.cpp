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

bool Vouches(const std::vector<Address>& witnessed, const Address& address) {
    if (Contains(witnessed, address)) return true;
    constexpr std::uint8_t kDns64[12] = {0, 0x64, 0xff, 0x9b};  // 64:ff9b::/96
    const auto bytes = address.Bytes();
    if (address.IsV4() || !std::equal(std::begin(kDns64), std::end(kDns64), bytes.begin())) return false;
    return Contains(witnessed, Address::V4(bytes.subspan<12, 4>()));
}

std::optional<Address> DisputedAddress(const Evidence& e) {
    if (!e.witness) return std::nullopt;
    for (const auto& a : e.computer)
        if ((a.IsV4() ? e.witness->wholeV4 : e.witness->wholeV6) && Contains(e.server, a) &&
            !Vouches(e.witness->addresses, a))
            return a;
    return std::nullopt;
}

Verdict Decide(const Evidence& evidence) {
    const auto failed = [](const AddressProof& p) { return p.proof.result == platform::ProofResult::Failed; };
    if (std::any_of(evidence.proofs.begin(), evidence.proofs.end(), failed)) return Verdict::Impostor;
    Evidence e = evidence;
    if (e.witness) {
        if (DisputedAddress(e)) return Verdict::Disputed;
        if (e.witness->answered.empty()) return Verdict::Unverified;
        // What the witnesses vouch for counts as the server's.
        for (const auto& a : e.computer)
            if (Vouches(e.witness->addresses, a) && !Contains(e.server, a)) e.server.push_back(a);
        e.wholeV4 = e.wholeV4 || e.witness->wholeV4;
        e.wholeV6 = e.wholeV6 || e.witness->wholeV6;
    }
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
