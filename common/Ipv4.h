#pragma once
#include <array>
#include <cstdint>
#include <optional>
#include <string_view>

namespace tarnwell {

// Four address bytes in network byte order: element 0 is the first number of
// the dotted text.
using Ipv4 = std::array<std::uint8_t, 4>;

// Dotted-quad IPv4 text as inet_pton(3) takes it: four decimals of 0 to 255
// joined by dots, without leading zeros (to inet_aton(3) a leading zero
// means octal, so such text is no address here).
std::optional<Ipv4> ParseDottedQuad(std::string_view text);

}  // namespace tarnwell
