#pragma once
#include <string>
#include <vector>

namespace tarnwell {

// The state shared by the steps of a check. One instance lives as long as
// the program.
struct CheckState {
    // Dotted address the computer's resolver gave for the current domain, or
    // empty. Reset at the start of every check.
    std::string HostIP;
    // Every address the computer's resolver gave, HostIP first; a caching
    // stub may list them in another order or another subset than the
    // server. Reset with HostIP.
    std::vector<std::string> HostIPs;
    // Set when an address of the DNS server's replies equals one of
    // HostIPs. Reset to false at the start of every check; only the answer
    // reader sets it.
    bool IpMatch = false;
    // The configured DNS servers of the last discovery, empty elements
    // possible. Replaced by every discovery that finds the service present.
    std::vector<std::string> DnsServers;
};

}  // namespace tarnwell
