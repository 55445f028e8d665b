#pragma once
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

// Text conversions that depend on the platform's character sets. Each
// platform directory implements them.
namespace tarnwell::platform {

// The byte of a character in the computer's single-byte (ANSI) code page, or
// nothing when the code page has no one-byte code for it. ASCII characters
// are always their own code.
std::optional<std::uint8_t> AnsiByte(char32_t ch);

// 8-bit text in the ANSI code page to UTF-8 (NUL characters kept).
std::string FromAnsi(std::string_view bytes);

// Letters to lower case by the platform's case mapping; every other
// character stays.
std::string LowerCase(std::string_view utf8);

// The ASCII form of an internationalized domain name (IDNA2008 with UTS #46
// processing, non-transitional, as browsers convert names), or nothing when
// the name cannot be converted.
std::optional<std::string> IdnToAscii(std::string_view utf8);

}  // namespace tarnwell::platform
