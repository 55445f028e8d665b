#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace tarnwell {

// The name a check asks for, worked out once from the domain text and
// handed to both lookups, so that they never ask for different names.
struct HostName {
    // The ACE name without a trailing dot, for the computer's resolver too:
    // glibc would skip the hosts file for the absolute name.
    std::string ace;
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

// Whether an ACE name is under "localhost", whatever its letters' case: RFC
// 6761 section 6.3 makes such names this computer's.
bool UnderLocalhost(std::string_view ace);

}  // namespace tarnwell
