#pragma once
#include "platform/NetworkParams.h"

namespace tarnwell::platform {

// IP Helper's GetNetworkParams in "iphlpapi.dll", looked up at run time so
// that a missing library or entry point can be reported; then, when it
// lists no IPv4 server, the first IPv6 server of an adapter that is up.
class WinNetworkParams : public NetworkParams {
public:
    std::optional<std::vector<Address>> DnsServers() override;
};

}  // namespace tarnwell::platform
