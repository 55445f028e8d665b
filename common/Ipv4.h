#pragma once
#include <array>
#include <cstdint>

namespace tarnwell {

// Four address bytes in network byte order: element 0 is the first number of
// the dotted text.
using Ipv4 = std::array<std::uint8_t, 4>;

}  // namespace tarnwell
