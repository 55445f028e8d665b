#pragma once
#include "platform/Serve.h"
#include "platform/Tls.h"

namespace tarnwell::platform {

// TLS through SChannel over a socket of our own, with the certificate
// verified by hand against the system's trust store (CryptoAPI's chain and
// its SSL policy with the server's name), as SChannel verifies nothing when
// asked for manual validation. Probes may run on several threads at once.
class WinTls : public Tls {
public:
    Proof Probe(const Address& address, const std::string& name, std::chrono::steady_clock::time_point deadline,
                std::uint16_t port = kHttpsPort) override;
};

}  // namespace tarnwell::platform
