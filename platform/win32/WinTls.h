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
// names only (RFC 9525). All of a call's probes run in one loop on the
// calling thread, non-blocking sockets waited on with select; only the
// verifications, which may block, run beside it on a few threads of the
// call's own. Calls may run on several threads at once.
class WinTls : public Tls {
public:
    explicit WinTls(Http& http) : http_(http) {}
    std::vector<Proof> ProbeRoutes(const std::vector<ProbeRoute>& routes, const std::string& name,
                                   std::chrono::steady_clock::time_point deadline, const Serve& serve,
                                   const ProbeEnded& ended, const RoadFor& road = {}) override;

private:
    Http& http_;
};

}  // namespace tarnwell::platform
