#pragma once
#include "common/Address.h"

#include <optional>
#include <vector>

namespace tarnwell::platform {

// The service that reports the computer's network parameters.
class NetworkParams {
public:
    virtual ~NetworkParams() = default;

    // The configured DNS servers in the platform's order, the first being
    // the primary server; nothing when the service itself is missing.
    virtual std::optional<std::vector<Address>> DnsServers() = 0;
};

}  // namespace tarnwell::platform
