#include "platform/Tls.h"

namespace tarnwell::platform {

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

}  // namespace tarnwell::platform
