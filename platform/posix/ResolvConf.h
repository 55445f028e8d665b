#pragma once
#include "platform/NetworkParams.h"

#include <string>
#include <vector>

namespace tarnwell::platform {

// Where the C library's resolver finds its configuration. Paths are fields
// so that tests can point them at files of their own.
struct ResolverPaths {
    std::string resolvConf = "/etc/resolv.conf";
    // Upstream servers behind systemd-resolved's stub (127.0.0.53).
    std::string systemdUpstream = "/run/systemd/resolve/resolv.conf";
    // Upstream servers behind NetworkManager's local dnsmasq.
    std::string networkManagerUpstream = "/run/NetworkManager/no-stub-resolv.conf";
};

// The name servers of a resolv.conf text, read as glibc reads them: a line
// that starts with "nameserver" and a blank, the value up to the next blank,
// lines starting with '#' or ';' ignored, at most the first three servers.
// In file order, a zone kept.
std::vector<Address> ParseNameServers(const std::string& text);

// The configured DNS servers. When the first is a local stub that
// answers from the hosts file itself, the stub's upstream servers instead,
// where their file can be read: a query to the stub could never show a
// hosts-file substitution.
std::vector<Address> ConfiguredNameServers(const ResolverPaths& paths);

// The network parameters service on a system whose resolver is the C
// library's: always present.
class ResolvConfNetworkParams : public NetworkParams {
public:
    explicit ResolvConfNetworkParams(ResolverPaths paths = {}) : paths_(std::move(paths)) {}
    std::optional<std::vector<Address>> DnsServers() override { return ConfiguredNameServers(paths_); }

private:
    ResolverPaths paths_;
};

}  // namespace tarnwell::platform
