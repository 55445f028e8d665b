#pragma once
#include "common/Address.h"
#include "platform/Http.h"
#include "platform/Proxy.h"
#include "platform/Serve.h"

#include <chrono>
#include <cstdint>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

namespace tarnwell::platform {

// What one address showed of its right to a name over HTTPS.
enum class ProofResult { Proven, Failed, Unknown };

enum class ProofReason {
    None,        // proven
    Name,        // failed: the certificate names no DNS name that matches (RFC 9525)
    Untrusted,   // failed: its issuer is not trusted by the system (self-signed included)
    Expired,     // failed: outside its validity dates
    Error,       // failed: another certificate error
    Refused,     // unknown: refused or unreachable
    Timeout,     // unknown: no answer within the bound
    NotTls,      // unknown: the peer speaks no TLS
    Aborted,     // unknown: a certificate that passed, then no completed handshake
    Incomplete,  // the chain lacks an issuer: failed when no caIssuers URL gave it, unknown when it could not be asked
    Internal,    // unknown: the probe itself failed
    Resources,   // unknown: no thread, socket, descriptor or memory to be had for it
    ProxyAuth,   // unknown: the proxy asks for authentication (407) before it makes the tunnel
};

// A proof that was never made says nothing: unknown, for an internal reason.
struct Proof {
    ProofResult result = ProofResult::Unknown;
    ProofReason reason = ProofReason::Internal;
    bool operator==(const Proof&) const = default;
};

inline constexpr Proof kProven{ProofResult::Proven, ProofReason::None};
constexpr Proof Failed(ProofReason why) { return {ProofResult::Failed, why}; }
constexpr Proof Unknown(ProofReason why) { return {ProofResult::Unknown, why}; }

inline constexpr std::uint16_t kHttpsPort = 443;

// How a TLS handshake ended.
enum class HandshakeEnd {
    Complete,  // the peer finished it
    Ended,     // before that: an alert, a reset, a close, no TLS at all
    TimedOut,  // the deadline passed first
};

// How the chain from the server's certificate to a root of the system's
// trust store came out.
enum class ChainEnd {
    Trusted,        // whole, to a trusted root
    Untrusted,      // to a root that is not trusted, a self-signed certificate included
    TooDeep,        // more than 8 intermediate CAs
    Error,          // another fault of the chain or of a certificate in it
    IssuerMissing,  // it stops at a certificate whose issuer neither the server nor the system has
};

// How the fetch of a missing issuer from the caIssuers URL of the
// certificate that lacks it (RFC 5280 section 4.2.2.1) ended.
enum class IssuerFetch {
    None,         // nothing was fetched
    NoUrl,        // the certificate names no http URL for its issuer
    HttpError,    // the URL answered with an HTTP error status, or another fault
    Junk,         // its body held no certificate
    Timeout,      // it did not answer by the deadline
    Unreachable,  // nobody to ask: the name not resolved, the connection refused or unreachable
    Fetched,      // its body held certificates: the chain is the one built again with them
};

// How the fetch ended, from how its GET ended and, for a reply, whether the
// body held a certificate.
IssuerFetch FetchEnded(GetEnd get, bool certificates);

// What a probe saw: how its handshake ended and, when the server's
// certificate came, what its verification found. Nothing passes unless set.
struct CertificateFacts {
    HandshakeEnd handshake = HandshakeEnd::Ended;
    bool certificate = false;  // the server's certificate came
    bool named = false;        // a subjectAltName DNS name of it stands for the name (RFC 9525)
    bool dated = false;        // it, and the chain as far as it was checked, is within its dates
    ChainEnd chain = ChainEnd::Error;
    IssuerFetch fetch = IssuerFetch::None;
};

// The proof those facts make, as Chromium judges a certificate: the chain's
// trust first, then the name, then the dates. A certificate that fails fails
// whatever the handshake did after it; one that passes proves the name only
// with a completed handshake, in which the peer shows that it holds the key.
// A missing issuer fails the certificate (ERR_CERT_AUTHORITY_INVALID) once
// its name and dates hold, unless its URL could not be asked in time: then
// it is unknown, and the address needs another witness.
Proof Judge(const CertificateFacts& facts);

// Hears of each probe as it ends: its index among the addresses and its proof.
using ProbeEnded = std::function<void(std::size_t index, const Proof& proof)>;

// Where one probe connects: an address of the site, or a proxy that is
// asked for a tunnel to the name on kHttpsPort first, as the browser asks
// it. An HTTP proxy gets "CONNECT name:443 HTTP/1.1" with "Host: name:443"
// (RFC 9110 section 9.3.6); an HTTPS proxy the same inside TLS to the proxy,
// whose certificate must prove the proxy's own host name as a site's
// proves the site's (anything else: unknown, refused); a SOCKS5 proxy the
// name itself (RFC 1928, ATYP 3, no authentication); a SOCKS4 proxy the
// name by SOCKS4a. A proxy that answers 407 leaves the proof unknown for
// ProxyAuth; any other refusal, a close or silence leaves it unknown as a
// site's would (refused, aborted, timeout). Once the tunnel is made, the
// probe is the one a site's address gets, with the name as SNI.
struct ProbeRoute {
    Address address;                  // the site's, or the proxy's
    std::uint16_t port = kHttpsPort;  // likewise
    ProxyEntry via = {};              // the proxy at address:port; Direct: none
};

// The most an HTTP proxy's answer to CONNECT may hold before its blank line.
inline constexpr std::size_t kMaxProxyHead = 16 * 1024;

// The requests a tunnel to `name` on kHttpsPort is asked for by, as the
// browser asks: CONNECT (RFC 9110 section 9.3.6) with the headers Chromium
// sends; the SOCKS5 greeting offering no authentication, and `next` the
// CONNECT to the name (RFC 1928 sections 3 and 4); a SOCKS4a CONNECT with
// the name after an empty user ID. Empty when the name cannot be carried
// (SOCKS5 takes at most 255 bytes).
std::string TunnelRequest(ProxyScheme scheme, std::string_view name, bool next);

// What a proxy's reply so far to the request `next` makes of the tunnel.
struct TunnelReply {
    enum class Step {
        More,       // not whole yet
        Next,       // the SOCKS5 greeting taken: the CONNECT comes next
        Made,       // the tunnel is made
        ProxyAuth,  // 407, or a SOCKS5 proxy that takes no client without authentication
        Refused,    // any other status or reply, or an HTTP head over kMaxProxyHead
    };
    Step step = Step::More;
    std::size_t length = 0;  // Next, Made: the reply's bytes; any after them are not the proxy's
};
TunnelReply ReadTunnelReply(ProxyScheme scheme, std::string_view in, bool next);

// The proxy an http or https request of a probe (an issuer fetched from its
// caIssuers URL) goes through, as the browser's settings give it for the
// URL; Direct: straight to the URL's host. Called on the probing thread or
// a verifying one, and only while ProbeRoutes runs.
using RoadFor = std::function<ProxyEntry(const std::string& url)>;

// TLS as the platform's browsers use it.
class Tls {
public:
    virtual ~Tls() = default;

    // Asks every address at once to prove `name` (an ACE host name): a TCP
    // connection, a TLS handshake with the name as SNI, the certificate
    // chain judged against the system's trust store, the name
    // (subjectAltName DNS names only, RFC 9525) and the validity dates as
    // soon as it arrives, and the connection closed once the handshake is
    // complete: no request is sent. Proven needs both a certificate that
    // passed and a completed handshake. Waits on the calling thread until
    // every probe has ended, by `deadline` (and a moment's grace) whatever
    // the peers do; `serve`, when set, is called between waits of at most
    // kServeSlice; `ended` hears of each probe on the calling thread as it
    // ends. A probe that cannot have what it needs (a socket, a descriptor,
    // memory) ends unknown for want of resources, one still running at the
    // grace timed out. The proofs come back in the order of `addresses`.
    // Safe to call on several threads at once.
    std::vector<Proof> ProbeAll(const std::vector<Address>& addresses, const std::string& name,
                                std::chrono::steady_clock::time_point deadline, const Serve& serve,
                                const ProbeEnded& ended, std::uint16_t port = kHttpsPort) {
        std::vector<ProbeRoute> routes;
        for (const auto& a : addresses) routes.push_back({a, port});
        return ProbeRoutes(routes, name, deadline, serve, ended);
    }

    // The same for each route at once, straight or through its proxy; the
    // issuers fetched by the roads `road` gives (none: straight).
    virtual std::vector<Proof> ProbeRoutes(const std::vector<ProbeRoute>& routes, const std::string& name,
                                           std::chrono::steady_clock::time_point deadline, const Serve& serve,
                                           const ProbeEnded& ended, const RoadFor& road = {}) = 0;
};

}  // namespace tarnwell::platform
