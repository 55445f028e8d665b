#pragma once
#include "platform/Sockets.h"

#include <cstdint>
#include <string>
#include <vector>

namespace tarnwell {

// The domain text as the 8-bit text handed to the platform: every character
// as its byte in the ANSI code page. Throws Failure for a character that has
// no one-byte code.
std::string ToAnsi(const std::string& utf8);

// The name a check asks for, worked out once from the domain text and
// handed to both lookups, so that they never ask for different names.
struct HostName {
    std::string lookup;               // for the computer's resolver: the ACE name, one trailing dot dropped
    std::string ace;                  // the ACE name without a trailing dot
    std::vector<std::uint8_t> qname;  // the question name in wire form
};

// The host name of a domain text: an all-ASCII text as it is, an
// international one in its IDNA ASCII (ACE) form, as a browser sends it.
// Throws Failure for a text that is no web domain's host name: one IDNA
// refuses, one the DNS cannot carry or with other octets than letters,
// digits, hyphens and underscores or a label that begins or ends with a
// hyphen, a name without a dot (the resolver's
// search list would turn it into another name than the one asked directly),
// and an address typed as a name (a resolver takes it as the address).
HostName MakeHostName(const std::string& domain);

// The address the computer's own resolver (hosts file and local name
// service included) gives for the 8-bit host name, as the report shows it:
// its first IPv4 address, or its first IPv6 address when it gives no IPv4
// one; the empty text when the name does not resolve. `all` gets every
// address of both families, in the resolver's order.
std::string GetHostIP(platform::Sockets& sockets, const std::string& name, std::vector<Address>& all);

}  // namespace tarnwell
