#pragma once
#include "common/Address.h"
#include "platform/Tls.h"
#include "resolve/Witness.h"

#include <cstddef>
#include <optional>
#include <vector>

// The verdict rules: which addresses are asked to prove the name, and what
// the evidence of a check says. Pure functions.
namespace tarnwell {

// The addresses of `computer` that are not among `server`'s.
std::vector<Address> Missing(const std::vector<Address>& computer, const std::vector<Address>& server);

// How many of the computer's first addresses are probed whatever the server
// says, and how many addresses are probed at most.
inline constexpr std::size_t kFirstProbed = 4;
inline constexpr std::size_t kMaxProbed = 16;

// The addresses of the computer's asked to prove the name over HTTPS, in the
// resolver's order: every one missing from the server's, then the first
// kFirstProbed, at most kMaxProbed in all, the missing ones first. Never an
// unspecified or loopback address, whatever gave it (a blocking hosts line,
// a filtering server): that is this computer, not the site.
std::vector<Address> ProbeTargets(const std::vector<Address>& computer, const std::vector<Address>& server);

// One address's proof of the name over HTTPS.
struct AddressProof {
    Address address;
    platform::Proof proof;
    bool operator==(const AddressProof&) const = default;
};

// What a check found, as the verdict weighs it.
struct Evidence {
    std::vector<Address> computer = {};  // the computer's resolver, both families
    std::vector<Address> server = {};    // the configured server's replies, both families
    bool wholeV4 = false;           // every A reply was whole, and there was one
    bool wholeV6 = false;           // likewise for AAAA
    std::vector<AddressProof> proofs = {};
    bool hostsLineMaps = false;     // a hosts line maps the name
    // The server runs on this computer (loopback, or an address of its own
    // interfaces), and a hosts line maps the name to an address of the
    // computer's: such a server may answer from the same hosts file.
    bool echo = false;
    // The witnesses' answer, when they were asked: the site could not prove
    // itself (no proof came, none failed) and no hosts line maps the name.
    std::optional<WitnessAnswer> witness = std::nullopt;
};

enum class Verdict {
    Match,         // every address of the computer's is among the server's
    Mismatch,      // one is missing, not proven, and the replies of its family were whole
    Inconclusive,  // nothing to compare
    LocalEcho,     // a match that a server on this computer may echo from the hosts file
    Impostor,      // an address of the computer's failed to prove the name
    Proven,        // the missing addresses all proved the name, and no hosts line maps it
    Disputed,      // a witness's whole reply lacks an address that the computer and the server agree on
    Unverified     // a witness was needed and none answered
};

// Whether the witnesses' addresses vouch for `address`: it is one of
// them, or the DNS64 form (64:ff9b::/96, RFC 6052) of one of their IPv4
// addresses.
bool Vouches(const std::vector<Address>& witnessed, const Address& address);

// The first address of the computer's that the server gives and that a
// witness whose reply for its family was whole does not vouch for.
std::optional<Address> DisputedAddress(const Evidence& evidence);

// The verdict on the evidence, the first that holds: an address that
// cannot prove the name is substituted whatever the DNS says (impostor); a
// witness disputes what the computer and the server agree on (disputed); a
// witness was needed and none answered (unverified); then every address of
// the computer's accounted for by the server, a witness or its proof, the
// witnesses' addresses and whole replies counting as the server's.
// A hosts line that maps the name keeps a missing address a mismatch even
// when it proves the name: a pinned node, or a root certificate that
// malware installed.
Verdict Decide(const Evidence& evidence);

}  // namespace tarnwell
