#pragma once
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

// UTF-8 text helpers. A "character" is one Unicode code point; bytes that
// are not valid UTF-8 count as one character each.
namespace tarnwell::text {

std::u32string Decode(std::string_view utf8);
std::string Encode(std::u32string_view chars);
std::size_t CharCount(std::string_view utf8);
// Whether the bytes are well-formed UTF-8 (no overlong forms, surrogates or
// truncated sequences).
bool ValidUtf8(std::string_view bytes);

// Removes leading and trailing space characters (U+0020 only).
std::string TrimSpaces(std::string_view utf8);

}  // namespace tarnwell::text
