#pragma once
#include "platform/Http.h"
#include "platform/Serve.h"
#include "platform/Tls.h"

namespace tarnwell::platform {

// TLS through SChannel over a socket of our own, with the certificate
// verified by hand as soon as SChannel shows it, as SChannel verifies
// nothing when asked for manual validation: CryptoAPI's chain to the
// system's trust store (an issuer the site leaves out fetched through
// `http` from its caIssuers URL, RFC 5280 section 4.2.2.1) and its SSL
// policy for trust and dates, and the name against the subjectAltName DNS
// names only (RFC 9525). Probes may run on several threads at once.
class WinTls : public Tls {
public:
    explicit WinTls(Http& http) : http_(http) {}
    Proof Probe(const Address& address, const std::string& name, std::chrono::steady_clock::time_point deadline,
                std::uint16_t port = kHttpsPort) override;
    // CryptoAPI's chain engine may bring the system's roots up to date, and
    // Wine's fetches what the site leaves out, without a bound.
    bool Bounded() const override { return false; }

private:
    Http& http_;
};

}  // namespace tarnwell::platform
