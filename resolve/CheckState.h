#pragma once
#include "common/Address.h"

#include <string>
#include <vector>

namespace tarnwell {

// The state shared by the steps of a check. One instance lives as long as
// the program.
struct CheckState {
    // The address the computer's resolver gave for the current domain as the
    // report shows it: its first IPv4 address, or its first IPv6 address
    // when it gave no IPv4 one; empty when none. Reset at the start of every
    // check.
    std::string HostIP;
    // Every address the computer's resolver gave, both families, in the
    // resolver's order: the order a browser tries them. Reset with HostIP.
    std::vector<Address> HostIPs;
    // Set when every address of HostIPs is among the DNS server's replies.
    // Reset to false at the start of every check; only the answer reader
    // sets it.
    bool IpMatch = false;
    // The configured DNS servers of the last discovery, empty elements
    // possible. Replaced by every discovery that finds the service present.
    std::vector<std::string> DnsServers;
};

}  // namespace tarnwell
