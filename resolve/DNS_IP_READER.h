#pragma once
#include "platform/Sockets.h"
#include "platform/Widgets.h"
#include "resolve/CheckState.h"

#include <chrono>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <vector>

namespace tarnwell {

inline constexpr std::uint16_t kDnsPort = 53;
inline constexpr std::size_t kReceiveCapacity = 2048;
// The whole wait for the reply, however many stray datagrams arrive: the
// system resolver's own default time-out.
inline constexpr std::chrono::milliseconds kReplyWait{5000};

// Everything a query needs besides the domain and the server text.
struct QueryContext {
    platform::Sockets& sockets;
    CheckState& state;
    platform::TextBox& report;
    std::chrono::milliseconds wait = kReplyWait;
    std::uint16_t port = kDnsPort;  // tests point it at their own server
};

// The question name in wire form for a domain text, as the system resolver
// is asked for it: its IDNA ASCII form when it has one (see LookupName), in
// the ANSI code page. Throws Failure for a name the DNS cannot carry.
std::vector<std::uint8_t> EncodeQName(const std::string& domain);

// The server's IPv4 address: the dotted text itself, or the first address
// the computer's resolver gives for a host name; nothing when there is none.
std::optional<Ipv4> ServerAddress(platform::Sockets& sockets, const std::string& server);

// Reads the reply to our query: when it is usable (see dns::UsableAddresses)
// sets state.Replied, writes one report line per address and sets IpMatch
// when one equals HostIP; otherwise writes nothing.
void ReadAnswers(std::span<const std::uint8_t> reply, CheckState& state, platform::TextBox& report);

// Sends one query for the domain to the server and reads the reply. Its
// effects are the report lines, IpMatch and Replied; the result is always
// empty.
std::string QueryDnsServer(const std::string& domain, const std::string& server,
                           QueryContext& context);

}  // namespace tarnwell
