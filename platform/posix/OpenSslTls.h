#pragma once
#include "platform/Tls.h"

#include <mutex>
#include <string>

struct ssl_ctx_st;

namespace tarnwell::platform {

// TLS through OpenSSL with the system's trust store (its default verify
// paths, /etc/ssl/certs on Debian) and its host name check. All the probes of
// a call run in one loop on the calling thread, each a state machine over
// non-blocking I/O: the connection, through a proxy the tunnel (and first,
// to an HTTPS proxy, its TLS, inside which the site's then runs through a
// BIO over it), the handshake, and the fetch of an issuer the server left
// out, which browsers make from the caIssuers URL of the certificate that
// lacks it (RFC 5280 section 4.2.2.1), through Transfers by its road.
class OpenSslTls : public Tls {
public:
    // `anchors`, when set, names a PEM file or a hashed directory of trust
    // anchors to use instead of the system's store.
    explicit OpenSslTls(std::string anchors = {});
    ~OpenSslTls() override;
    OpenSslTls(const OpenSslTls&) = delete;
    OpenSslTls& operator=(const OpenSslTls&) = delete;

    std::vector<Proof> ProbeRoutes(const std::vector<ProbeRoute>& routes, const std::string& name,
                                   std::chrono::steady_clock::time_point deadline, const Serve& serve,
                                   const ProbeEnded& ended, const RoadFor& road = {}) override;

private:
    // A reference to the context, which the caller frees; none if it could
    // not be made. Made at the first connection: loading the trust store costs
    // tens of milliseconds, which a program that proves nothing need not
    // pay. Made again while its store holds no certificate: the default
    // paths skip a file they cannot open, so a store loaded when no
    // descriptor was free would judge every chain of the run untrusted.
    ssl_ctx_st* Context();
    ssl_ctx_st* Made() const;
    const std::string anchors_;
    std::mutex mutex_;
    ssl_ctx_st* context_ = nullptr;
    bool stocked_ = false;  // the context's store holds a certificate
};

}  // namespace tarnwell::platform
