#pragma once
#include "platform/Serve.h"
#include "platform/Tls.h"

namespace tarnwell::platform {

// TLS through SChannel over a socket of our own, with the certificate
// verified by hand as soon as SChannel shows it, as SChannel verifies
// nothing when asked for manual validation: CryptoAPI's chain to the
// system's trust store (an issuer the site leaves out fetched from its
// caIssuers URL) and its SSL policy for trust and dates, and the name
// against the subjectAltName DNS names only (RFC 9525). Probes may run on
// several threads at once.
class WinTls : public Tls {
public:
    Proof Probe(const Address& address, const std::string& name, std::chrono::steady_clock::time_point deadline,
                std::uint16_t port = kHttpsPort) override;
    // CryptoAPI's chain engine may fetch what the site leaves out, and Wine
    // does not honour the retrieval's time-out.
    bool Bounded() const override { return false; }
};

}  // namespace tarnwell::platform
