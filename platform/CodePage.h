#pragma once
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

// Text conversions that depend on the platform's character sets. Each
// platform directory implements them.
namespace tarnwell::platform {

// Letters to lower case by the platform's case mapping; every other
// character stays.
std::string LowerCase(std::string_view utf8);

// The ASCII form of an internationalized domain name (IDNA2008 with UTS #46
// processing, non-transitional, as browsers convert names), or nothing when
// the name cannot be converted.
std::optional<std::string> IdnToAscii(std::string_view utf8);

}  // namespace tarnwell::platform
