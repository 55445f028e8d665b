#include "platform/Tls.h"

namespace tarnwell::platform {

namespace {

// A probe's own bound is the deadline; past it a probe is waited for only
// this much longer before it counts as timed out.
constexpr std::chrono::milliseconds kGrace{250};

}  // namespace

IssuerFetch FetchEnded(GetEnd get, bool certificates) {
    switch (get) {
        case GetEnd::Reply: return certificates ? IssuerFetch::Fetched : IssuerFetch::Junk;
        case GetEnd::Timeout: return IssuerFetch::Timeout;
        case GetEnd::Unreachable: return IssuerFetch::Unreachable;
        case GetEnd::Refused: break;
    }
    return IssuerFetch::HttpError;
}

Proof Judge(const CertificateFacts& facts) {
    if (!facts.certificate)
        return facts.handshake == HandshakeEnd::Complete   ? Failed(ProofReason::Error)  // a handshake without one
               : facts.handshake == HandshakeEnd::TimedOut ? Unknown(ProofReason::Timeout)
                                                           : Unknown(ProofReason::NotTls);
    if (facts.chain == ChainEnd::Untrusted) return Failed(ProofReason::Untrusted);
    if (facts.chain == ChainEnd::TooDeep || facts.chain == ChainEnd::Error) return Failed(ProofReason::Error);
    if (!facts.named) return Failed(ProofReason::Name);
    if (!facts.dated) return Failed(ProofReason::Expired);
    if (facts.chain == ChainEnd::IssuerMissing)
        return facts.fetch == IssuerFetch::Timeout || facts.fetch == IssuerFetch::Unreachable
                   ? Unknown(ProofReason::Incomplete)
                   : Failed(ProofReason::Incomplete);
    return facts.handshake == HandshakeEnd::Complete ? kProven : Unknown(ProofReason::Aborted);
}

std::vector<Proof> ProbeOnThreads(const std::function<Proof(const Address&)>& probe, bool bounded,
                                  const std::vector<Address>& addresses, std::chrono::steady_clock::time_point deadline,
                                  const Serve& serve, const ProbeEnded& ended) {
    std::vector<std::function<Proof()>> probes;
    for (const auto& address : addresses)
        probes.push_back([probe, address] {
            try {
                return probe(address);
            } catch (...) {
                return Proof{};  // unknown, internal
            }
        });
    // With nobody to serve and probes that keep their bound, the first runs
    // on the calling thread while the others run on theirs.
    const auto results = RunAll<Proof>(std::move(probes), deadline + kGrace, serve, !serve && bounded,
                                       Unknown(ProofReason::Resources), ended);
    std::vector<Proof> proofs;
    for (std::size_t i = 0; i < results.size(); ++i) {
        proofs.push_back(results[i].value_or(Unknown(ProofReason::Timeout)));
        // A probe still running past the grace counts as timed out.
        if (!results[i] && ended) ended(i, proofs.back());
    }
    return proofs;
}

}  // namespace tarnwell::platform
