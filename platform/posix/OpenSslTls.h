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

    std::vector<Proof> ProbeAll(const std::vector<Address>& addresses, const std::string& name,
                                std::chrono::steady_clock::time_point deadline, const Serve& serve,
                                const ProbeEnded& ended, std::uint16_t port = kHttpsPort) override;
    // One address's probe, blocking until it ends.
    Proof Probe(const Address& address, const std::string& name, std::chrono::steady_clock::time_point deadline,
                std::uint16_t port = kHttpsPort);

private:
    // A reference to the context, which the caller frees; none if it could
    // not be made. Made at the first probe: loading the trust store costs
    // tens of milliseconds, which a program that proves nothing need not
    // pay. Made again while its store holds no certificate: the default
    // paths skip a file they cannot open, so a store loaded when no
    // descriptor was free would judge every chain of the run untrusted.
    ssl_ctx_st* Context();
    ssl_ctx_st* Made() const;
    Http& http_;
    const std::string anchors_;
    std::mutex mutex_;
    ssl_ctx_st* context_ = nullptr;
    bool stocked_ = false;  // the context's store holds a certificate
};

}  // namespace tarnwell::platform
