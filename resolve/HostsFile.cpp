#include "resolve/HostsFile.h"

#include "common/Address.h"
#include "common/Text.h"

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

// The text as it may be printed: every control character and every byte
// that is not part of well-formed UTF-8 becomes "?"; after kMaxShownChars
// characters the rest becomes "...".
std::string Safe(std::string_view s) { return text::Clean(s, {.maxChars = kMaxShownChars}); }

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
