#pragma once
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

// UTF-8 text helpers. A "character" is one Unicode code point; bytes that
// are not valid UTF-8 count as one character each.
namespace tarnwell::text {

// The length of the well-formed UTF-8 sequence at `i` (RFC 3629, section 4:
// no overlong forms, no surrogates, nothing above U+10FFFF) and its code
// point; 0 when the byte at `i` does not begin one.
std::size_t Utf8Sequence(std::string_view s, std::size_t i, char32_t& cp);

// How a text is made safe to show.
struct CleanRules {
    // Printable ASCII only: every other byte becomes "?", and so does each
    // of `forbidden`. Otherwise well-formed UTF-8 is kept, and every control
    // character, bidirectional control and malformed byte becomes "?".
    bool asciiOnly = false;
    std::string_view forbidden = {};
    // After this many characters the rest becomes "...".
    std::size_t maxChars = static_cast<std::size_t>(-1);
};
std::string Clean(std::string_view s, const CleanRules& rules);

std::u32string Decode(std::string_view utf8);
std::string Encode(std::u32string_view chars);
std::size_t CharCount(std::string_view utf8);
// Whether the bytes are well-formed UTF-8 (no overlong forms, surrogates or
// truncated sequences).
bool ValidUtf8(std::string_view bytes);

// Whether `s` begins with `prefix` (lowercase ASCII) in any letters' case.
bool StartsWithNoCase(std::string_view s, std::string_view prefix);

// Removes leading and trailing space characters (U+0020 only).
std::string TrimSpaces(std::string_view utf8);

}  // namespace tarnwell::text
