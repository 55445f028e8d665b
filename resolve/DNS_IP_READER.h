#pragma once
#include "platform/Sockets.h"
#include "platform/Tls.h"
#include "platform/Widgets.h"
#include "resolve/CheckState.h"
#include "resolve/DnsMessage.h"

#include <chrono>
#include <cstdint>
#include <functional>
#include <optional>
#include <span>
#include <string>
#include <vector>

namespace tarnwell {

inline constexpr std::uint16_t kDnsPort = 53;
// Any UDP datagram fits (RFC 768: 65,535 octets with the headers).
inline constexpr std::size_t kReceiveCapacity = 65536;
// The whole wait for the replies, however many queries and stray datagrams:
// the system resolver's own default time-out.
inline constexpr std::chrono::milliseconds kReplyWait{5000};
// Queries of one type sent at most: the first, and again while an address
// of the computer's of that family is missing from the replies (round-robin
// servers answer one address of several at a time).
inline constexpr int kMaxQueries = 3;

// Everything a query needs besides the name and the server text.
struct QueryContext {
    platform::Sockets& sockets;
    CheckState& state;
    platform::TextBox& report;
    std::chrono::milliseconds wait = kReplyWait;
    std::uint16_t port = kDnsPort;  // tests point it at their own server
};

// What the replies to the queries of one type said.
struct Replies {
    bool asked = false;      // a query of this type was sent
    int complete = 0;        // usable, complete replies read
    bool incomplete = false; // a usable reply could not be read whole
    // Every reply read was complete, and there was one: the evidence of a
    // mismatch (RFC 2181 section 9).
    bool Whole() const { return complete > 0 && !incomplete; }
};

// What the direct query found.
struct DirectAnswer {
    std::optional<Address> server;      // the server's address
    bool sent = false;                  // a query left the socket
    Replies a, aaaa;                    // of the A and the AAAA queries
    std::optional<std::uint8_t> rcode;  // of the last usable reply
    std::vector<Address> addresses;     // of every reply read, each once, in order: A, then AAAA
    const Replies& Of(const Address& address) const { return address.IsV4() ? a : aaaa; }
};

// The addresses of `computer` that no reply of the server holds.
std::vector<Address> Missing(const std::vector<Address>& computer, const DirectAnswer& answer);

// The server's address: the address text itself, or the first address the
// computer's resolver gives for a host name; nothing when there is none.
std::optional<Address> ServerAddress(platform::Sockets& sockets, const std::string& server);

// One step over a reply read: adds its addresses not listed yet to the
// answer and one report line each, and sets IpMatch when every address of
// the computer's is then among the server's.
void ReadAnswers(const dns::Reading& reading, DirectAnswer& answer, CheckState& state, platform::TextBox& report);

// Sends the A query for `qname` to the server and reads the replies, then,
// when the computer has an IPv6 address, the AAAA query; each asked again
// on a fresh socket while an address of the computer's of its family is
// missing, all within the one wait.
DirectAnswer QueryDnsServer(std::span<const std::uint8_t> qname, const std::string& server, QueryContext& context);

// One address's proof of the name over HTTPS.
struct AddressProof {
    Address address;
    platform::Proof proof;
};

inline constexpr std::size_t kMaxProbed = 4;
inline constexpr std::chrono::milliseconds kProofWait{3000};

// Probes the first kMaxProbed addresses of `computer`, one after another,
// all within `wait`: each gets an equal share of what is left, so that a
// silent peer cannot starve the ones after it. `each` hears of every proof
// as it comes.
std::vector<AddressProof> ProveAddresses(platform::Tls& tls, const std::vector<Address>& computer,
                                         const std::string& ace, std::chrono::milliseconds wait,
                                         const std::function<void(const AddressProof&)>& each);

enum class Verdict {
    Match,         // every address of the computer's is among the server's
    Mismatch,      // one is missing, not proven, and the replies of its family were whole
    Inconclusive,  // nothing to compare
    Impostor,      // an address of the computer's failed to prove the name
    Proven         // the missing addresses all proved the name, and no hosts line maps it
};

// The verdict on the evidence: the proofs first, since an address that
// cannot prove the name is substituted whatever the DNS says; then every
// address of the computer's accounted for by the server or by its proof.
// A hosts line that maps the name keeps a missing address a mismatch even
// when it proves the name: a pinned node, or a root certificate that
// malware installed.
Verdict Decide(const DirectAnswer& answer, const std::vector<Address>& computer,
               const std::vector<AddressProof>& proofs, bool hostsLineMaps);

}  // namespace tarnwell
