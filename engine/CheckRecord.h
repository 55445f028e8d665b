#pragma once
#include "common/Address.h"
#include "platform/Files.h"
#include "platform/Tls.h"
#include "resolve/HostsFile.h"
#include "resolve/Verdict.h"
#include "resolve/Witness.h"

#include <chrono>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace tarnwell {

// How a check ended.
enum class CheckEnd {
    None,            // no check has run
    Rejected,        // the domain text is no web domain's host name
    ResolverFailed,  // the computer's resolver gave no address
    NoServer,        // no DNS server configured
    Match,           // every address of the resolver's is among the server's
    Mismatch,        // one is missing from the server's whole replies, and not proven
    Inconclusive,    // nothing to compare, or a local server that echoes the hosts file
    Impostor,        // an address of the resolver's failed to prove the name over HTTPS
    Proven,          // the addresses differ, but every missing one proved the name
    Disputed,        // a witness does not vouch for an address the server gave, and the site did not prove itself
    Unverified,      // an address not proven, and no witness answered whole for its family
    TimedOut,        // the console run's deadline passed before the check ended
    Blocked,         // the DNS answers this computer for the name
    Filtered,        // the DNS answers the unspecified address: a filtering server
    Unproven,        // an address's certificate failed, but a witness gives the address
    Unconfirmed      // an address not proven and unknown to a witness, beside one that proved
};

// What the witnesses were asked and said.
struct WitnessRecord {
    std::vector<std::string> asked;     // their URLs, in the settings' order
    std::vector<std::string> answered;  // those with a whole reply
    std::vector<std::string> hosts;     // of each asked, in the same order
    WitnessResult result = WitnessResult::Silent;
    std::vector<Address> addresses;     // of their whole replies: A first, then AAAA
    std::string named;  // the hosts of those that answered, else of those asked, ", " apart
};

// What one check found, as values.
struct CheckRecord {
    std::string domain = {};                    // the domain text D, as given
    std::optional<std::string> queryName = {};  // the name asked for, ACE, no trailing dot
    CheckEnd end = CheckEnd::None;
    std::vector<Address> systemAddresses = {};  // the computer's resolver, both families, its order
    std::optional<Address> server = {};         // the DNS server asked
    bool sent = false;                          // a query went to the server
    std::vector<Address> serverAddresses = {};  // of every reply read, each once
    std::optional<int> rcode = {};              // of the last usable reply
    std::vector<AddressProof> proofs = {};      // of the proof stage, in the resolver's order
    std::optional<WitnessRecord> witness = {};  // when the witnesses were asked
    Judgement judgement = {};                   // each address's state, and the address that decided
    std::optional<std::string> hostsFile = {};  // the hosts file's path, when its lines were looked up
    // Why it could not be read whole; a missing file has no lines, and no fault.
    std::optional<platform::ReadFault> hostsFault = {};
    hosts::Matches hostsLines = {};
    std::chrono::milliseconds elapsed{0};

    // The address the report names for the computer: its first IPv4
    // address, or its first IPv6 address when it has none.
    std::optional<Address> SystemAddress() const;
    // The address that decided the outcome, if one did.
    std::optional<Address> Decisive() const;
    // The proof of `address`, or nullptr when it was not probed.
    const AddressProof* ProofOf(const Address& address) const;
    // The hosts of the witnesses that decided the outcome's address, ", " apart.
    std::string DecisiveWitnesses() const;
    // Whether the hosts file, once looked up, may map the name: a line maps
    // it, or the file could not be read whole (what was not read may).
    bool HostsMayMap() const { return hostsLines.total > 0 || hostsFault.has_value(); }
};

}  // namespace tarnwell
