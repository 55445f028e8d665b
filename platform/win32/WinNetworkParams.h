#pragma once
#include "platform/NetworkParams.h"

namespace tarnwell::platform {

// IP Helper's GetNetworkParams in "iphlpapi.dll", looked up at run time so
// that a missing library or entry point can be reported.
class WinNetworkParams : public NetworkParams {
public:
    bool Available() override;
    std::uint32_t QuerySize(std::uint32_t& size) override;
    std::vector<IpAddressString> DnsServerList(std::uint32_t size) override;
};

}  // namespace tarnwell::platform
