#pragma once
#include "common/Address.h"
#include "platform/Tls.h"
#include "resolve/Witness.h"

#include <cstddef>
#include <optional>
#include <vector>

// The verdict rules: which addresses are asked to prove the name, and what
// the evidence of a check says of each address and of the whole. Pure
// functions.
namespace tarnwell {

// The addresses of `computer` that are not among `server`'s.
std::vector<Address> Missing(const std::vector<Address>& computer, const std::vector<Address>& server);

// How many addresses are probed at most.
inline constexpr std::size_t kMaxProbed = 32;

// The addresses of the computer's asked to prove the name over HTTPS, in the
// resolver's order: every one, at most kMaxProbed, those missing from the
// server's chosen first. Never an unspecified or loopback address, whatever
// gave it (a blocking hosts line, a filtering server): that is this
// computer, not the site.
std::vector<Address> ProbeTargets(const std::vector<Address>& computer, const std::vector<Address>& server);

// One address's proof of the name over HTTPS: the site's own address, or a
// proxy's, through which the site was asked.
struct AddressProof {
    Address address;
    platform::Proof proof;
    platform::ProxyEntry via = {};  // the proxy at `address`; Direct: the site's address
    bool operator==(const AddressProof&) const = default;
};

// Why the browser's road through its proxy settings is not known whole:
// the proof through it can be no better than unverified.
enum class ProxyDoubt {
    None,
    Silent,     // the road goes through proxies only, and none of them answered
    Unknown,    // the auto-config file could not be fetched or run in time
    Differs,    // the browser takes another road for http:// than for https://
    Unchecked,  // the settings turn the proxy's check off while a proxy is set
    NoProof,    // the road goes through a proxy, and no proof was asked (--no-proof)
};

// The browser's road to the site as its proxy settings give it, when they
// set a proxy or an auto-config file.
struct ProxyEvidence {
    std::vector<platform::ProxyEntry> entries = {};  // for https://D/, in order; none when not known
    std::vector<AddressProof> proofs = {};  // through each entry but DIRECT, in order
    ProxyDoubt doubt = ProxyDoubt::None;    // Silent is found by the rules
};

// What a check found, as the verdict weighs it.
struct Evidence {
    std::vector<Address> computer = {};  // the computer's resolver, both families
    std::vector<Address> server = {};    // the configured server's replies, both families
    bool wholeV4 = false;           // every A reply was whole, and there was one
    bool wholeV6 = false;           // likewise for AAAA
    std::vector<AddressProof> proofs = {};  // an address without one was not probed
    // A hosts line maps the name, or the hosts file could not be read whole
    // (malware can deny the user what the system's resolver still reads).
    bool hostsLineMaps = false;
    // The server runs on this computer (loopback, or an address of its own
    // interfaces), and a hosts line maps the name to an address of the
    // computer's: such a server may answer from the same hosts file.
    bool echo = false;
    // The witnesses' answer, when they were asked; none when they are
    // turned off (or there was no proof at all).
    std::optional<WitnessAnswer> witness = std::nullopt;
    // The name is "localhost" or under it, where this computer's own
    // address is the right answer.
    bool localName = false;
    std::optional<ProxyEvidence> proxy = std::nullopt;
};

// What one address came to, the most severe first: the outcome of a check
// is the most severe state of any of its addresses.
enum class AddressState {
    Impostor,     // its certificate failed, and no witness excuses it
    Blocked,      // the DNS answers this computer (loopback) for it
    Disputed,     // both roads give it, a witness's whole reply lacks it, nothing proved
    Missing,      // missing from whole replies (or a hosts line maps it) and not proven
    Unproven,     // its certificate failed, but a witness gives it and nothing proved
    Filtered,     // the DNS answers the unspecified address: a filtering server
    Unverified,   // not proven, and no witness answered whole for its family
    Unconfirmed,  // not proven, unknown to a witness, while another address proved
    Unanswered,   // not proven, and no whole reply to compare it with
    Proven,       // its handshake proved the name
    Vouched,      // the witnesses give it (or, with them off, the server)
    Unused        // the browser goes through a proxy that proved the name, never to it
};

// What decided an address's state.
enum class DecidedBy { Proof, Server, Witness, HostsFile, Nothing };

struct AddressVerdict {
    Address address;
    AddressState state = AddressState::Unanswered;
    DecidedBy by = DecidedBy::Nothing;
    // The witnesses, by index, whose whole reply of its family holds it
    // (vouched, unproven) or lacks it (disputed, unconfirmed, missing).
    std::vector<std::size_t> witnesses = {};
    bool operator==(const AddressVerdict&) const = default;
};

enum class Verdict {
    Match,         // every address proven or vouched, each among the server's (or the witnesses' standing in)
    Proven,        // likewise, but an address the server does not give proved the name
    Impostor,
    Blocked,
    Disputed,
    Mismatch,      // an address missing
    Unproven,
    Filtered,
    Unverified,
    Unconfirmed,
    Inconclusive,  // nothing to compare an address with
    LocalEcho      // ... because the server on this computer may echo the hosts file
};

// The verdict with each address's state, in the resolver's order.
struct Judgement {
    Verdict verdict = Verdict::Inconclusive;
    std::vector<AddressVerdict> addresses = {};
    // The address that decided the verdict, into `addresses`: the first
    // whose state is the outcome; for Proven the first that proved beyond
    // the server's; none for a match.
    std::optional<std::size_t> decisive = std::nullopt;
    // No usable reply came from the server, and a witness's whole reply
    // with addresses stood in for it.
    bool witnessStoodIn = false;
    // Each proxy of the road but DIRECT, in order: impostor (its proof
    // failed), unproven (failed as the site's own addresses did, which the
    // witnesses give), proven, or unverified (no answer).
    std::vector<AddressVerdict> proxies = {};
    std::optional<std::size_t> decisiveProxy = std::nullopt;  // into proxies: the one that decided
    ProxyDoubt doubt = ProxyDoubt::None;  // why the verdict was held at unverified
    bool operator==(const Judgement&) const = default;

    const AddressVerdict* Decisive() const { return decisive ? &addresses[*decisive] : nullptr; }
};

// Whether `address` is an IPv4 address of `v4` embedded in an IPv6 address
// as a NAT64 translator would (RFC 6052 section 2.2), under any prefix.
bool EmbedsAny(const Address& address, const std::vector<Address>& v4);

// Whether some address needs the witnesses: one that did not prove the name
// and that a hosts line does not already decide.
bool NeedsWitness(const Evidence& evidence);

// The state of every address of the computer's and the verdict on them.
Judgement Decide(const Evidence& evidence);

}  // namespace tarnwell
