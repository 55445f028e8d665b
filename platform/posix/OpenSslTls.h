#pragma once
#include "platform/Http.h"
#include "platform/Tls.h"

#include <mutex>
#include <string>

struct ssl_ctx_st;

namespace tarnwell::platform {

// TLS through OpenSSL with the system's trust store (its default verify
// paths, /etc/ssl/certs on Debian) and its host name check. An issuer the
// server leaves out is fetched, as browsers do, from the caIssuers URL of
// the certificate that lacks it (RFC 5280 section 4.2.2.1), through `http`.
// Probes may run on several threads at once; each blocks until it ends.
class OpenSslTls : public Tls {
public:
    // `anchors`, when set, names a PEM file or a hashed directory of trust
    // anchors to use instead of the system's store.
    explicit OpenSslTls(Http& http, std::string anchors = {});
    ~OpenSslTls() override;
    OpenSslTls(const OpenSslTls&) = delete;
    OpenSslTls& operator=(const OpenSslTls&) = delete;

    Proof Probe(const Address& address, const std::string& name, std::chrono::steady_clock::time_point deadline,
                std::uint16_t port = kHttpsPort) override;

private:
    // Made at the first probe: loading the trust store costs tens of
    // milliseconds, which a program that proves nothing need not pay. None
    // if it could not be made.
    ssl_ctx_st* Context();
    Http& http_;
    const std::string anchors_;
    std::once_flag made_;
    ssl_ctx_st* context_ = nullptr;
};

}  // namespace tarnwell::platform
