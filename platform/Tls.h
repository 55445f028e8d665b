#pragma once
#include "common/Address.h"

#include <chrono>
#include <cstdint>
#include <string>

namespace tarnwell::platform {

// What one address showed of its right to a name over HTTPS.
enum class ProofResult { Proven, Failed, Unknown };

enum class ProofReason {
    None,       // proven
    Name,       // failed: the certificate is for another name
    Untrusted,  // failed: its issuer is not trusted by the system (self-signed included)
    Expired,    // failed: outside its validity dates
    Error,      // failed: another certificate error
    Refused,    // unknown: refused or unreachable
    Timeout,    // unknown: no answer within the bound
    NotTls,     // unknown: the peer speaks no TLS
};

struct Proof {
    ProofResult result = ProofResult::Unknown;
    ProofReason reason = ProofReason::Timeout;
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
    // ACE host name) as SNI, verifies the certificate chain against the
    // system's trust store, the name (RFC 6125) and the validity dates, and
    // closes at once: no request is sent. Ends by `deadline`, whatever the
    // peer does.
    virtual Proof Probe(const Address& address, const std::string& name,
                        std::chrono::steady_clock::time_point deadline, std::uint16_t port = kHttpsPort) = 0;
};

}  // namespace tarnwell::platform
