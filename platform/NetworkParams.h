#pragma once
#include <array>
#include <cstdint>
#include <vector>

namespace tarnwell::platform {

// One DNS server entry as the network parameters service lays it out: the
// address as 8-bit text in a fixed field, NUL-ended when shorter. The field
// holds any IPv6 text with its zone (46 characters and an interface name).
using IpAddressString = std::array<char, 64>;

inline constexpr std::uint32_t kErrorBufferOverflow = 111;

// The service that reports the computer's network parameters.
class NetworkParams {
public:
    virtual ~NetworkParams() = default;

    // Whether the service is present at all.
    virtual bool Available() = 0;

    // The size query: the result code (kErrorBufferOverflow when a buffer of
    // `size` bytes is needed).
    virtual std::uint32_t QuerySize(std::uint32_t& size) = 0;

    // The second call, with a buffer of `size` bytes: the IpAddress fields
    // of the DNS server chain in the platform's order, the first being the
    // primary server. A call that fills nothing gives no entries.
    virtual std::vector<IpAddressString> DnsServerList(std::uint32_t size) = 0;
};

}  // namespace tarnwell::platform
