// The judgement both TLS back ends leave to the facts they gather.
#include "platform/Tls.h"

#include <gtest/gtest.h>

#include <optional>

namespace tarnwell::platform {
namespace {

using H = HandshakeEnd;
using C = ChainEnd;
using F = IssuerFetch;
using R = ProofReason;

struct Row {
    const char* label;
    CertificateFacts facts;  // handshake, certificate, named, dated, chain, fetch
    Proof expected;
};

TEST(Tls, JudgesTheFactsAsChromiumDoes) {
    // The issuer missing, its URL's GET ended so, a certificate in its body or not.
    const auto missing = [](std::optional<GetEnd> get, bool served = false, bool named = true, bool dated = true) {
        const F fetch = get ? FetchEnded(*get, served) : F::NoUrl;
        return CertificateFacts{H::Complete, true, named, dated, C::IssuerMissing, fetch};
    };
    const Row rows[] = {
        {"a whole handshake, a certificate that passes", {H::Complete, true, true, true, C::Trusted}, kProven},
        {"passed, then broken off", {H::Ended, true, true, true, C::Trusted}, Unknown(R::Aborted)},
        {"passed, then timed out", {H::TimedOut, true, true, true, C::Trusted}, Unknown(R::Aborted)},
        {"another name, then broken off", {H::Ended, true, false, true, C::Trusted}, Failed(R::Name)},
        {"out of its dates", {H::Complete, true, true, false, C::Trusted}, Failed(R::Expired)},
        {"another name and out of its dates", {H::Complete, true, false, false, C::Trusted}, Failed(R::Name)},
        {"untrusted before the name", {H::Complete, true, false, false, C::Untrusted}, Failed(R::Untrusted)},
        {"too deep before the name", {H::Complete, true, false, true, C::TooDeep}, Failed(R::Error)},
        {"another chain error", {H::Ended, true, true, true, C::Error}, Failed(R::Error)},
        {"no certificate, a whole handshake", {H::Complete}, Failed(R::Error)},
        {"no certificate, timed out", {H::TimedOut}, Unknown(R::Timeout)},
        {"no certificate, broken off", {H::Ended}, Unknown(R::NotTls)},
        {"issuer missing, no URL", missing({}), Failed(R::Incomplete)},
        {"issuer missing, an HTTP error", missing(GetEnd::Refused), Failed(R::Incomplete)},
        {"issuer missing, junk", missing(GetEnd::Reply), Failed(R::Incomplete)},
        {"issuer missing, not the issuer fetched", missing(GetEnd::Reply, true), Failed(R::Incomplete)},
        {"issuer missing, timed out", missing(GetEnd::Timeout), Unknown(R::Incomplete)},
        {"issuer missing, unreachable", missing(GetEnd::Unreachable), Unknown(R::Incomplete)},
        {"issuer missing, no URL, another name", missing({}, false, false), Failed(R::Name)},
        {"issuer missing, timed out, another name", missing(GetEnd::Timeout, false, false), Failed(R::Name)},
        {"issuer missing, unreachable, expired", missing(GetEnd::Unreachable, false, true, false), Failed(R::Expired)},
        {"issuer fetched, untrusted", {H::Complete, true, true, true, C::Untrusted, F::Fetched}, Failed(R::Untrusted)},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.label);
        EXPECT_EQ(Judge(row.facts), row.expected);
    }
}

}  // namespace
}  // namespace tarnwell::platform
