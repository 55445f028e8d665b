#pragma once
#include "platform/Tls.h"

#include <memory>

struct ssl_ctx_st;

namespace tarnwell::platform {

// TLS through OpenSSL with the system's trust store (its default verify
// paths, /etc/ssl/certs on Debian) and its host name check. Probes may run
// on several threads at once.
class OpenSslTls : public Tls {
public:
    OpenSslTls();
    ~OpenSslTls() override;
    Proof Probe(const Address& address, const std::string& name, std::chrono::steady_clock::time_point deadline,
                std::uint16_t port = kHttpsPort) override;

private:
    ssl_ctx_st* context_ = nullptr;
};

}  // namespace tarnwell::platform
