#include "resolve/Verdict.h"

#include <algorithm>
#include <array>

namespace tarnwell {

namespace {

using platform::ProofResult;

template <class List>
bool Contains(const List& list, const Address& address) {
    return std::find(list.begin(), list.end(), address) != list.end();
}

// Unverified and unconfirmed weigh the same, and so do proven, vouched and unused.
int Severity(AddressState state) {
    if (state == AddressState::Unconfirmed) state = AddressState::Unverified;
    if (state == AddressState::Vouched || state == AddressState::Unused) state = AddressState::Proven;
    return static_cast<int>(state);
}

bool IsDirect(const platform::ProxyEntry& e) { return e.scheme == platform::ProxyScheme::Direct; }

// The rules that give one address its state, over the evidence of a check.
class Rules {
public:
    explicit Rules(const Evidence& e) : e_(e) {
        const auto proved = [](const AddressProof& p) { return p.proof.result == ProofResult::Proven; };
        anyProven_ = std::any_of(e.proofs.begin(), e.proofs.end(), proved);
        if (!e.proxy) return;
        // A proof through a proxy is another address that proved.
        const auto& road = *e.proxy;
        anyProven_ = anyProven_ || std::any_of(road.proofs.begin(), road.proofs.end(), proved);
        // The browser takes the first entry, which proved; no DIRECT to fall back to.
        unused_ = !road.entries.empty() && !IsDirect(road.entries.front()) && !road.proofs.empty() &&
                  proved(road.proofs.front()) && std::none_of(road.entries.begin(), road.entries.end(), IsDirect);
    }

    // The first rule that holds.
    AddressVerdict Judge(const Address& a) const {
        if (unused_) return {a, AddressState::Unused};
        const auto proof = ProofOf(a);
        const bool inServer = Contains(e_.server, a);
        // A hosts line maps the name: an address the server's whole replies
        // lack is missing whatever its proof (a pinned node, or a root
        // certificate that malware installed); without a whole reply its
        // proof still counts for nothing.
        const bool hostsLine = e_.hostsLineMaps && !inServer && proof != ProofResult::Failed;
        if (hostsLine && ServerWhole(a)) return {a, AddressState::Missing, DecidedBy::HostsFile};
        if (proof == ProofResult::Proven && !hostsLine) return {a, AddressState::Proven, DecidedBy::Proof};
        if (proof == ProofResult::Failed) {
            // Another address that proved means the site does serve HTTPS.
            if (WitnessHas(a) && !anyProven_) return Witnessed(a, AddressState::Unproven, true);
            return {a, AddressState::Impostor, DecidedBy::Proof};
        }
        // RFC 6761 section 6.3: a localhost name is this computer's.
        if ((a.IsLoopback() || a.IsUnspecified()) && e_.localName)
            return {a, AddressState::Vouched, DecidedBy::Nothing};
        if ((a.IsLoopback() || a.IsUnspecified()) && e_.witness) {
            if (WitnessHas(a)) return Witnessed(a, AddressState::Vouched, true);
            if (!WitnessWhole(a)) return {a, AddressState::Unverified, DecidedBy::Witness};
            return Witnessed(a, a.IsLoopback() ? AddressState::Blocked : AddressState::Filtered, false);
        }
        return Unproven(a, inServer);
    }

private:
    // An address whose proof is unknown, or that was not probed.
    AddressVerdict Unproven(const Address& a, bool inServer) const {
        if (!e_.witness) {
            if (inServer)
                return e_.echo ? AddressVerdict{a, AddressState::Unanswered, DecidedBy::Server}
                               : AddressVerdict{a, AddressState::Vouched, DecidedBy::Server};
            if (ServerWhole(a)) return {a, AddressState::Missing, DecidedBy::Server};
            return {a, AddressState::Unanswered};
        }
        // The computer's resolver names the NAT64 prefix, and it may be the
        // attacker's: a witness's A record never vouches for such a form.
        if (!a.IsV4() && EmbedsAny(a, e_.witness->addresses)) return Embedded(a);
        if (WitnessHas(a)) return Witnessed(a, AddressState::Vouched, true);
        if (!inServer && ServerWhole(a)) return {a, AddressState::Missing, DecidedBy::Server};
        if (!WitnessWhole(a)) return {a, AddressState::Unverified, DecidedBy::Witness};
        if (!inServer) return Witnessed(a, AddressState::Missing, false);
        // Both roads give it, the witnesses do not: a dead pool node beside
        // one that proved is told from a phishing host by nothing here.
        return Witnessed(a, anyProven_ ? AddressState::Unconfirmed : AddressState::Disputed, false);
    }

    // Decided by the witnesses: those whose whole reply of the address's
    // family holds it, or lacks it.
    AddressVerdict Witnessed(const Address& a, AddressState state, bool holding) const {
        AddressVerdict verdict{a, state, DecidedBy::Witness};
        const auto& each = e_.witness->each;
        for (std::size_t i = 0; i < each.size(); ++i)
            if ((a.IsV4() ? each[i].wholeV4 : each[i].wholeV6) && Contains(each[i].addresses, a) == holding)
                verdict.witnesses.push_back(i);
        return verdict;
    }

    // The DNS64 form of a witness's A record: named by the witnesses whose
    // whole A reply holds the IPv4 address it embeds.
    AddressVerdict Embedded(const Address& a) const {
        AddressVerdict verdict{a, AddressState::Unconfirmed, DecidedBy::Witness};
        const auto& each = e_.witness->each;
        for (std::size_t i = 0; i < each.size(); ++i)
            if (each[i].wholeV4 && EmbedsAny(a, each[i].addresses)) verdict.witnesses.push_back(i);
        return verdict;
    }

    std::optional<ProofResult> ProofOf(const Address& a) const {
        for (const auto& p : e_.proofs)
            if (p.address == a) return p.proof.result;
        return std::nullopt;
    }
    bool ServerWhole(const Address& a) const { return a.IsV4() ? e_.wholeV4 : e_.wholeV6; }
    bool WitnessWhole(const Address& a) const {
        return e_.witness && (a.IsV4() ? e_.witness->wholeV4 : e_.witness->wholeV6);
    }
    bool WitnessHas(const Address& a) const { return e_.witness && Contains(e_.witness->addresses, a); }

    const Evidence& e_;
    bool anyProven_ = false;
    bool unused_ = false;
};

// Each proxy's state, from its proof through it and the site's own
// addresses: one that failed is an impostor, unless the site's addresses
// failed the same way and the witnesses give them (an HTTP-only shared host
// behind an honest proxy).
std::vector<AddressVerdict> JudgeProxies(const ProxyEvidence& road, const Evidence& e,
                                         const std::vector<AddressVerdict>& direct) {
    std::vector<AddressVerdict> proxies;
    for (const auto& p : road.proofs) {
        AddressVerdict verdict{p.address, AddressState::Unverified, DecidedBy::Proof};
        if (p.proof.result == ProofResult::Proven) verdict.state = AddressState::Proven;
        if (p.proof.result == ProofResult::Failed) {
            // An address that could not be reached (an IPv6 one without a route) is no sign either way.
            const bool alike = std::any_of(e.proofs.begin(), e.proofs.end(), [&](const AddressProof& d) {
                return d.proof == p.proof;
            }) && std::none_of(direct.begin(), direct.end(), [](const AddressVerdict& v) {
                return v.state == AddressState::Impostor;
            }) && std::any_of(direct.begin(), direct.end(), [](const AddressVerdict& v) {
                return v.state == AddressState::Unproven;
            });
            verdict.state = alike ? AddressState::Unproven : AddressState::Impostor;
        }
        proxies.push_back(verdict);
    }
    return proxies;
}

// Why the road itself leaves the proof unverified, if it does: a doubt of
// the evidence's, or a road of proxies only of which none answered.
ProxyDoubt DoubtOf(const ProxyEvidence& road, const std::vector<AddressVerdict>& proxies) {
    if (road.doubt != ProxyDoubt::None) return road.doubt;
    const bool proxiesOnly = !road.entries.empty() && std::none_of(road.entries.begin(), road.entries.end(), IsDirect);
    const bool silent = std::all_of(proxies.begin(), proxies.end(), [](const AddressVerdict& v) {
        return v.state == AddressState::Unverified;
    });
    return proxiesOnly && !proxies.empty() && silent ? ProxyDoubt::Silent : ProxyDoubt::None;
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
        if (!a.IsLoopback() && !a.IsUnspecified() && !Contains(eligible, a)) eligible.push_back(a);
    std::vector<Address> chosen = Missing(eligible, server);
    for (const auto& a : eligible)
        if (!Contains(chosen, a)) chosen.push_back(a);
    if (chosen.size() > kMaxProbed) chosen.resize(kMaxProbed);
    std::vector<Address> targets;
    for (const auto& a : eligible)
        if (Contains(chosen, a)) targets.push_back(a);
    return targets;
}

bool EmbedsAny(const Address& address, const std::vector<Address>& v4) {
    if (address.IsV4()) return false;
    // Where each prefix length puts the IPv4 address's four octets; octet 8
    // (bits 64 to 71) is always zero and skipped.
    constexpr std::array<std::array<std::size_t, 4>, 6> kPlaces{{
        {4, 5, 6, 7}, {5, 6, 7, 9}, {6, 7, 9, 10}, {7, 9, 10, 11}, {9, 10, 11, 12}, {12, 13, 14, 15}}};
    const auto bytes = address.Bytes();
    return std::any_of(v4.begin(), v4.end(), [&](const Address& a) {
        return a.IsV4() && std::any_of(kPlaces.begin(), kPlaces.end(), [&](const auto& places) {
                   for (std::size_t i = 0; i < places.size(); ++i)
                       if (bytes[places[i]] != a.Bytes()[i]) return false;
                   return true;
               });
    });
}

bool NeedsWitness(const Evidence& evidence) {
    Evidence without = evidence;
    without.witness = std::nullopt;
    const Rules rules(without);
    return std::any_of(evidence.computer.begin(), evidence.computer.end(), [&](const Address& a) {
        const auto verdict = rules.Judge(a);
        // Decided by the hosts file, by its proof, by the name itself (localhost), or never used.
        const bool local = verdict.state == AddressState::Vouched && verdict.by == DecidedBy::Nothing;
        return verdict.by != DecidedBy::HostsFile && verdict.state != AddressState::Proven && !local &&
               verdict.state != AddressState::Unused;
    });
}

Judgement Decide(const Evidence& evidence) {
    Judgement judgement;
    const Rules rules(evidence);
    for (const auto& a : evidence.computer)
        if (std::none_of(judgement.addresses.begin(), judgement.addresses.end(),
                         [&](const AddressVerdict& v) { return v.address == a; }))
            judgement.addresses.push_back(rules.Judge(a));
    const auto& all = judgement.addresses;
    const bool noReply = evidence.server.empty() && !evidence.wholeV4 && !evidence.wholeV6;
    judgement.witnessStoodIn = noReply && evidence.witness && !evidence.witness->addresses.empty() &&
                               std::any_of(all.begin(), all.end(), [](const AddressVerdict& v) {
                                   return v.by == DecidedBy::Witness &&
                                          (v.state == AddressState::Vouched || v.state == AddressState::Missing);
                               });
    if (all.empty()) return judgement;
    const auto bySeverity = [](const AddressVerdict& x, const AddressVerdict& y) {
        return Severity(x.state) < Severity(y.state);
    };
    auto worst = std::min_element(all.begin(), all.end(), bySeverity);
    judgement.decisive = static_cast<std::size_t>(worst - all.begin());
    if (evidence.proxy) {
        judgement.proxies = JudgeProxies(*evidence.proxy, evidence, all);
        // A proxy decides when it is more severe than every address; its
        // silence is a doubt, not a state that decides.
        const auto& proxies = judgement.proxies;
        const auto proxy = std::min_element(proxies.begin(), proxies.end(), bySeverity);
        if (proxy != proxies.end() && proxy->state != AddressState::Unverified && bySeverity(*proxy, *worst)) {
            worst = proxy;
            judgement.decisive.reset();
            judgement.decisiveProxy = static_cast<std::size_t>(proxy - proxies.begin());
        }
    }
    switch (worst->state) {
        case AddressState::Impostor: judgement.verdict = Verdict::Impostor; break;
        case AddressState::Blocked: judgement.verdict = Verdict::Blocked; break;
        case AddressState::Disputed: judgement.verdict = Verdict::Disputed; break;
        case AddressState::Missing: judgement.verdict = Verdict::Mismatch; break;
        case AddressState::Unproven: judgement.verdict = Verdict::Unproven; break;
        case AddressState::Filtered: judgement.verdict = Verdict::Filtered; break;
        case AddressState::Unverified: judgement.verdict = Verdict::Unverified; break;
        case AddressState::Unconfirmed: judgement.verdict = Verdict::Unconfirmed; break;
        case AddressState::Unanswered:
            judgement.verdict = worst->by == DecidedBy::Server ? Verdict::LocalEcho : Verdict::Inconclusive;
            break;
        case AddressState::Proven:
        case AddressState::Vouched:
        case AddressState::Unused: {
            // A match, unless an address beyond the server's proved the name.
            const auto beyond = std::find_if(all.begin(), all.end(), [&](const AddressVerdict& v) {
                return v.state == AddressState::Proven && !Contains(evidence.server, v.address);
            });
            judgement.verdict = beyond == all.end() ? Verdict::Match : Verdict::Proven;
            judgement.decisive = beyond == all.end() ? std::nullopt
                                                     : std::optional<std::size_t>(beyond - all.begin());
            break;
        }
    }
    // A road not known whole proves nothing better than unverified.
    const ProxyDoubt doubt = evidence.proxy ? DoubtOf(*evidence.proxy, judgement.proxies) : ProxyDoubt::None;
    const Verdict v = judgement.verdict;
    if (doubt != ProxyDoubt::None && (v == Verdict::Match || v == Verdict::Proven || v == Verdict::Inconclusive ||
                                      v == Verdict::LocalEcho)) {
        judgement.verdict = Verdict::Unverified;
        judgement.doubt = doubt;
        judgement.decisive.reset();
        if (doubt == ProxyDoubt::Silent && !judgement.proxies.empty()) judgement.decisiveProxy = 0;
    }
    return judgement;
}

}  // namespace tarnwell
