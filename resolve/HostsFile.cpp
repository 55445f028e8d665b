#include "resolve/HostsFile.h"

#include "common/Address.h"

#include <array>

// The hosts file as the resolvers read it (hosts(5); the Windows file has
// the same form): one mapping a line, the address first, then the canonical
// name and its aliases, fields apart by the resolver's blanks, "#" to the
// line's end a comment. One pass over the bytes with string_views; only the
// lines shown are copied.
namespace tarnwell::hosts {

namespace {

constexpr char Lower(char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c; }

std::string_view WithoutFinalDot(std::string_view s) {
    return !s.empty() && s.back() == '.' ? s.substr(0, s.size() - 1) : s;
}

// `wanted` is already lower-case and without its final dot.
bool SameName(std::string_view field, std::string_view wanted) {
    field = WithoutFinalDot(field);
    if (field.size() != wanted.size()) return false;
    for (std::size_t i = 0; i < field.size(); ++i)
        if (Lower(field[i]) != wanted[i]) return false;
    return true;
}

// The length of the well-formed UTF-8 sequence at `i` (RFC 3629, section 4:
// no overlong forms, no surrogates, nothing above U+10FFFF) and its code
// point; 0 when the byte at `i` does not begin one.
std::size_t Sequence(std::string_view s, std::size_t i, char32_t& cp) {
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

// C0 but TAB, DEL, C1: what a terminal may act on rather than print; and
// the bidirectional embeddings, overrides and isolates, which reorder what
// follows them on the screen (CVE-2021-42574).
constexpr bool Control(char32_t cp) {
    return (cp < 0x20 && cp != '\t') || (cp >= 0x7F && cp <= 0x9F) || (cp >= 0x202A && cp <= 0x202E) ||
           (cp >= 0x2066 && cp <= 0x2069);
}

// The text as it may be printed: every control character and every byte
// that is not part of well-formed UTF-8 becomes "?"; after kMaxShownChars
// characters the rest becomes "...".
std::string Safe(std::string_view s) {
    std::string out;
    out.reserve(s.size() < kMaxShownChars ? s.size() : kMaxShownChars + 3);
    std::size_t chars = 0;
    for (std::size_t i = 0; i < s.size(); ++chars) {
        if (chars == kMaxShownChars) {
            out += "...";
            break;
        }
        char32_t cp = 0;
        const std::size_t n = Sequence(s, i, cp);
        if (n == 0 || Control(cp)) out += '?';
        else out.append(s, i, n);
        i += n == 0 ? 1 : n;
    }
    return out;
}

// 0.0.0.0, 127.0.0.0/8, :: and ::1: the name is kept from the network (an
// ad or malware blocker), not sent elsewhere.
bool Blocking(std::string_view address) {
    const auto parsed = Address::Parse(address);
    return parsed && (parsed->IsLoopback() || parsed->IsUnspecified());
}

}  // namespace

Matches FindLines(std::string_view file, std::string_view name, const platform::HostsSyntax& syntax) {
    std::array<bool, 256> blank{};  // a table: the test runs once for every octet of the file
    for (const char c : syntax.blanks) blank[static_cast<unsigned char>(c)] = true;
    const auto Blank = [&](char c) { return blank[static_cast<unsigned char>(c)]; };
    Matches found;
    std::string wanted(WithoutFinalDot(name));
    for (char& c : wanted) c = Lower(c);
    if (wanted.empty()) return found;
    // Notepad begins a UTF-8 file with a byte order mark.
    if (file.starts_with("\xEF\xBB\xBF")) file.remove_prefix(3);
    std::size_t number = 0;
    for (std::size_t start = 0; start < file.size();) {
        ++number;
        const std::size_t lf = file.find('\n', start);
        std::string_view line = file.substr(start, lf == std::string_view::npos ? file.size() - start : lf - start);
        start = lf == std::string_view::npos ? file.size() : lf + 1;
        // CR LF ends a line; so does a CR ending the file (a CR LF file whose
        // last LF was lost).
        if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
        if (syntax.nulEndsLine) line = line.substr(0, line.find('\0'));
        line = line.substr(0, line.find('#'));
        while (!line.empty() && Blank(line.back())) line.remove_suffix(1);

        std::size_t i = 0;
        std::string_view address;
        bool maps = false;
        while (i < line.size() && !maps) {
            while (i < line.size() && Blank(line[i])) ++i;
            const std::size_t from = i;
            while (i < line.size() && !Blank(line[i])) ++i;
            const std::string_view field = line.substr(from, i - from);
            if (field.empty()) break;
            if (address.empty()) address = field;
            else maps = SameName(field, wanted);
        }
        if (!maps) continue;
        if (found.total++ < kMaxShownLines) found.lines.push_back({number, Safe(line), Safe(address), Blocking(address)});
    }
    return found;
}

}  // namespace tarnwell::hosts
