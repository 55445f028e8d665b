#include "common/Text.h"

#include <algorithm>

namespace tarnwell::text {

namespace {

constexpr char32_t kReplacement = 0xFFFD;

// Decodes one code point at `i` and advances `i`; a byte that does not
// begin a well-formed sequence gives U+FFFD for itself.
char32_t Next(std::string_view s, std::size_t& i) {
    char32_t cp = 0;
    const std::size_t n = Utf8Sequence(s, i, cp);
    i += n == 0 ? 1 : n;
    return n == 0 ? kReplacement : cp;
}

// C0 but TAB, DEL, C1: what a terminal may act on rather than print; and
// the bidirectional embeddings, overrides and isolates, which reorder what
// follows them on the screen (CVE-2021-42574).
constexpr bool Control(char32_t cp) {
    return (cp < 0x20 && cp != '\t') || (cp >= 0x7F && cp <= 0x9F) || (cp >= 0x202A && cp <= 0x202E) ||
           (cp >= 0x2066 && cp <= 0x2069);
}

}  // namespace

std::size_t Utf8Sequence(std::string_view s, std::size_t i, char32_t& cp) {
    const auto at = [&](std::size_t k) { return static_cast<unsigned char>(s[i + k]); };
    const unsigned char b0 = at(0);
    cp = b0;
    if (b0 < 0x80) return 1;
    const std::size_t n = b0 < 0xC2 ? 0 : b0 <= 0xDF ? 2 : b0 <= 0xEF ? 3 : b0 <= 0xF4 ? 4 : 0;
    if (n == 0 || i + n > s.size()) return 0;
    // The second byte's range is narrower after E0, ED, F0 and F4.
    const unsigned char low = b0 == 0xE0 ? 0xA0 : b0 == 0xF0 ? 0x90 : 0x80;
    const unsigned char high = b0 == 0xED ? 0x9F : b0 == 0xF4 ? 0x8F : 0xBF;
    if (at(1) < low || at(1) > high) return 0;
    cp = b0 & (0x7F >> n);
    for (std::size_t k = 1; k < n; ++k) {
        if ((at(k) & 0xC0) != 0x80) return 0;
        cp = cp << 6 | (at(k) & 0x3F);
    }
    return n;
}

std::string Clean(std::string_view s, const CleanRules& rules) {
    std::string out;
    std::size_t chars = 0;
    for (std::size_t i = 0; i < s.size(); ++chars) {
        if (chars == rules.maxChars) {
            out += "...";
            break;
        }
        char32_t cp = 0;
        const std::size_t n = Utf8Sequence(s, i, cp);
        const bool ascii = n == 1 && cp >= 0x20 && cp < 0x7F;
        if (rules.asciiOnly ? !ascii || rules.forbidden.find(static_cast<char>(cp)) != std::string_view::npos
                            : n == 0 || Control(cp))
            out.append(rules.asciiOnly && n > 1 ? n : 1, '?');  // ASCII only: a '?' a byte
        else
            out.append(s, i, n);
        i += n == 0 ? 1 : n;
    }
    return out;
}

std::u32string Decode(std::string_view utf8) {
    std::u32string out;
    out.reserve(utf8.size());
    for (std::size_t i = 0; i < utf8.size();) out.push_back(Next(utf8, i));
    return out;
}

std::string Encode(std::u32string_view chars) {
    std::string out;
    out.reserve(chars.size());
    for (char32_t c : chars) {
        if (c < 0x80) {
            out.push_back(static_cast<char>(c));
        } else if (c < 0x800) {
            out.push_back(static_cast<char>(0xC0 | (c >> 6)));
            out.push_back(static_cast<char>(0x80 | (c & 0x3F)));
        } else if (c < 0x10000) {
            out.push_back(static_cast<char>(0xE0 | (c >> 12)));
            out.push_back(static_cast<char>(0x80 | ((c >> 6) & 0x3F)));
            out.push_back(static_cast<char>(0x80 | (c & 0x3F)));
        } else {
            out.push_back(static_cast<char>(0xF0 | (c >> 18)));
            out.push_back(static_cast<char>(0x80 | ((c >> 12) & 0x3F)));
            out.push_back(static_cast<char>(0x80 | ((c >> 6) & 0x3F)));
            out.push_back(static_cast<char>(0x80 | (c & 0x3F)));
        }
    }
    return out;
}

std::size_t CharCount(std::string_view utf8) {
    std::size_t count = 0;
    for (std::size_t i = 0; i < utf8.size(); ++count) Next(utf8, i);
    return count;
}

bool ValidUtf8(std::string_view bytes) {
    for (std::size_t i = 0; i < bytes.size();) {
        const std::size_t at = i;
        // U+FFFD that is really in the text takes three bytes; a malformed
        // byte gives U+FFFD for one.
        if (Next(bytes, i) == kReplacement && i - at != 3) return false;
    }
    return true;
}

std::string TrimSpaces(std::string_view utf8) {
    const auto first = utf8.find_first_not_of(' ');
    if (first == std::string_view::npos) return {};
    const auto last = utf8.find_last_not_of(' ');
    return std::string(utf8.substr(first, last - first + 1));
}

bool StartsWithNoCase(std::string_view s, std::string_view prefix) {
    return s.size() >= prefix.size() && std::equal(prefix.begin(), prefix.end(), s.begin(), [](char lower, char c) {
               return (c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c) == lower;
           });
}

}  // namespace tarnwell::text
