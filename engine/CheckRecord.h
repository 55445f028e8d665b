#pragma once
#include "common/Address.h"
#include "platform/Files.h"
#include "platform/Proxy.h"
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

// Where the browser's proxy settings for the domain come from.
enum class ProxySource {
    Variable,    // environment variables
    AutoConfig,  // an auto-config (PAC) file the settings name
    System,      // the desktop's or the system's settings
    Wpad,        // an auto-config file that automatic detection (WPAD) found
};

// Why an auto-config file gave no road.
enum class PacError {
    None,
    Unreachable,  // it could not be fetched whole (at most 1 MiB) in time
    Timeout,      // it ran past its bound
    Memory,       // it wanted more memory than it is given
    Script,       // it did not compile, threw, or has no FindProxyForURL
    Answer,       // it answered what is no list of proxies
};

// The browser's road to the domain, as its proxy settings give it.
struct ProxyRecord {
    ProxySource source = ProxySource::System;
    platform::ProxySettings settings = {};  // as found, credentials and all
    std::string pacUrl = {};                // of an auto-config file, without user:password@
    // The source of each list: the variable or key it came from.
    std::string httpsFrom = {}, httpFrom = {};
    std::vector<platform::ProxyEntry> entries = {};      // for https://D/, in order; none when not known
    std::vector<platform::ProxyEntry> httpEntries = {};  // for http://D/
    bool othersDirect = false;  // the control names go direct
    bool checked = true;        // false: the settings turn the stage off
    PacError error = PacError::None;
    // The browser takes another road for http://D/ than for https://D/.
    bool Differs() const { return !entries.empty() && entries != httpEntries; }
    // Whether D's road for https goes through a proxy first.
    bool Proxied() const { return !entries.empty() && entries.front().scheme != platform::ProxyScheme::Direct; }
};

// What one check found, as values.
struct CheckRecord {
    std::string domain = {};                    // the domain text D, as given
    std::optional<std::string> queryName = {};  // the name asked for, ACE, no trailing dot
    CheckEnd end = CheckEnd::None;
    std::vector<Address> systemAddresses = {};  // the computer's resolver, both families, its order
    std::optional<ProxyRecord> proxy = {};      // when a proxy or an auto-config is set
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
    // The proof through the proxy that decided the outcome, if one did.
    const AddressProof* DecisiveProxy() const;
    // The hosts of the witnesses that decided the outcome's address, ", " apart.
    std::string DecisiveWitnesses() const;
    // Whether the hosts file, once looked up, may map the name: a line maps
    // it, or the file could not be read whole (what was not read may).
    bool HostsMayMap() const { return hostsLines.total > 0 || hostsFault.has_value(); }
};

}  // namespace tarnwell
