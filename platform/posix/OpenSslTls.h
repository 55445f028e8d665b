#pragma once
#include "platform/Serve.h"
#include "platform/Tls.h"

#include <memory>
#include <mutex>

struct ssl_ctx_st;

namespace tarnwell::platform {

// TLS through OpenSSL with the system's trust store (its default verify
// paths, /etc/ssl/certs on Debian) and its host name check. Probes may run
// on several threads at once; a window program's probe serves the window
// while it waits.
class OpenSslTls : public Tls {
public:
    OpenSslTls();
    ~OpenSslTls() override;
    Proof Probe(const Address& address, const std::string& name, std::chrono::steady_clock::time_point deadline,
                std::uint16_t port = kHttpsPort) override;

    // Each wait of a probe is cut into slices with `serve` between them.
    void Serving(Serve serve) { serve_ = std::move(serve); }

private:
    // Made at the first probe: loading the trust store costs tens of
    // milliseconds, which a program that proves nothing need not pay.
    ssl_ctx_st* Context();
    std::once_flag made_;
    ssl_ctx_st* context_ = nullptr;
    Serve serve_;
};

}  // namespace tarnwell::platform
