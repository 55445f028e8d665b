#pragma once
#include "common/Address.h"
#include "platform/Serve.h"

#include <chrono>
#include <cstdint>
#include <functional>
#include <string>
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
    Incomplete,  // unknown: the chain lacks an issuer that could not be fetched in time
    Internal,    // unknown: the probe itself failed
    Resources,   // unknown: no thread, socket, descriptor or memory to be had for it
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

// TLS as the platform's browsers use it.
class Tls {
public:
    virtual ~Tls() = default;

    // Connects to `address` by TCP, makes a TLS handshake with `name` (an
    // ACE host name) as SNI, judges the certificate chain against the
    // system's trust store, the name (subjectAltName DNS names only, RFC
    // 9525) and the validity dates as soon as it arrives, and closes once
    // the handshake is complete: no request is sent. Proven needs both a
    // certificate that passed and a completed handshake. Ends by
    // `deadline`, whatever the peer does, as far as the platform allows.
    // Safe to call on several threads at once.
    virtual Proof Probe(const Address& address, const std::string& name,
                        std::chrono::steady_clock::time_point deadline, std::uint16_t port = kHttpsPort) = 0;

    // Whether every probe ends by its deadline whatever the peer and the
    // network do. One that may not (a chain engine that fetches on its own)
    // is never run on the caller's thread.
    virtual bool Bounded() const { return true; }
};

// Hears of each probe as it ends: its index among the addresses and its proof.
using ProbeEnded = std::function<void(std::size_t index, const Proof& proof)>;

// Probes every address at once, each with the whole bound, on a thread of
// its own (the first on the calling thread when nobody is served and the
// probes are bounded), and waits on the calling thread until all have ended or the
// deadline (and a moment's grace) has passed; `serve`, when set, is called
// between waits of at most kServeSlice. `ended` is called on the calling
// thread, in the order the probes end. A probe that throws is unknown
// (internal); one still running after the grace (a platform call that
// honours no bound) is left to itself and counts as timed out. The proofs
// come back in the order of `addresses`.
std::vector<Proof> ProbeAll(Tls& tls, const std::vector<Address>& addresses, const std::string& name,
                            std::chrono::steady_clock::time_point deadline, const Serve& serve,
                            const ProbeEnded& ended, std::uint16_t port = kHttpsPort);

}  // namespace tarnwell::platform
