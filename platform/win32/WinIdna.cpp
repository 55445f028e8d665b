// The ASCII form of a domain name on Windows. The system's IdnToAscii
// follows the transitional rules of UTS #46: it maps the four deviation
// characters away (ß to ss, final sigma to sigma, the zero-width joiners to
// nothing), where browsers and the Linux build keep them. Labels without
// them go to the system; a label with them is mapped around them by the
// system, judged by the rules of IDNA2008 for the joiners (with the tables
// of IdnaTables.h), and encoded here (RFC 3492).
#include "common/Text.h"
#include "platform/CodePage.h"
#include "platform/win32/IdnaTables.h"
#include "platform/win32/WinText.h"

#include <windows.h>

#include <algorithm>
#include <cstdint>
#include <limits>
#include <vector>

namespace tarnwell::platform {

namespace {

constexpr char32_t kZwnj = 0x200C, kZwj = 0x200D;
constexpr std::size_t kMaxLabel = 63;

bool IsDeviation(char32_t c) { return c == 0xDF || c == 0x3C2 || c == kZwnj || c == kZwj; }

// A joiner at `at` of the label is allowed after a virama, and a ZWNJ also
// between a character that joins to its left and one that joins to its
// right, with only transparent ones between (RFC 5892, appendix A.1, A.2).
bool JoinerAllowed(const std::u32string& label, std::size_t at) {
    if (at > 0 && idna::IsVirama(label[at - 1])) return true;
    if (label[at] != kZwnj) return false;
    std::size_t before = at, after = at + 1;
    while (before > 0 && idna::JoiningTypeOf(label[before - 1]) == idna::kTransparent) --before;
    while (after < label.size() && idna::JoiningTypeOf(label[after]) == idna::kTransparent) ++after;
    if (before == 0 || after == label.size()) return false;
    const idna::JoiningType left = idna::JoiningTypeOf(label[before - 1]);
    const idna::JoiningType right = idna::JoiningTypeOf(label[after]);
    return (left == idna::kLeft || left == idna::kDual) && (right == idna::kRight || right == idna::kDual);
}

std::optional<std::wstring> SystemAscii(std::wstring_view name) {
    wchar_t out[512];
    const int n = ::IdnToAscii(0, name.data(), static_cast<int>(name.size()), out, 512);
    if (n <= 0) return std::nullopt;
    return std::wstring(out, static_cast<std::size_t>(n));
}

// A piece of a label as the system maps it (case folded, normalized). The
// system leaves an ASCII piece as it is: its capitals are made small here.
std::optional<std::u32string> SystemMapped(std::u32string piece) {
    for (char32_t& c : piece)
        if (c >= U'A' && c <= U'Z') c += U'a' - U'A';
    const auto ascii = SystemAscii(Widen(text::Encode(piece)));
    if (!ascii) return std::nullopt;
    wchar_t out[512];
    const int n = ::IdnToUnicode(0, ascii->data(), static_cast<int>(ascii->size()), out, 512);
    if (n <= 0) return std::nullopt;
    return text::Decode(Narrow(std::wstring_view(out, static_cast<std::size_t>(n))));
}

std::optional<std::wstring> Nfc(const std::wstring& wide) {
    const int size = NormalizeString(NormalizationC, wide.c_str(), static_cast<int>(wide.size()), nullptr, 0);
    if (size <= 0) return std::nullopt;
    std::wstring out(static_cast<std::size_t>(size), L'\0');
    const int n = NormalizeString(NormalizationC, wide.c_str(), static_cast<int>(wide.size()), out.data(), size);
    if (n <= 0) return std::nullopt;
    out.resize(static_cast<std::size_t>(n));
    return out;
}

// RFC 3492, section 6.3, without the case annotations.
std::optional<std::string> Punycode(const std::u32string& input) {
    constexpr std::uint32_t kBase = 36, kTmin = 1, kTmax = 26, kSkew = 38, kDamp = 700;
    constexpr std::uint32_t kMax = std::numeric_limits<std::uint32_t>::max();
    const auto adapt = [](std::uint32_t delta, std::uint32_t points, bool first) {
        delta = first ? delta / kDamp : delta / 2;
        delta += delta / points;
        std::uint32_t k = 0;
        for (; delta > ((kBase - kTmin) * kTmax) / 2; k += kBase) delta /= kBase - kTmin;
        return k + (kBase - kTmin + 1) * delta / (delta + kSkew);
    };
    const auto digit = [](std::uint32_t d) { return static_cast<char>(d < 26 ? 'a' + d : '0' + d - 26); };
    std::string out;
    for (char32_t c : input)
        if (c < 0x80) out.push_back(static_cast<char>(c));
    const std::uint32_t basic = static_cast<std::uint32_t>(out.size());
    if (basic > 0) out.push_back('-');
    std::uint32_t n = 0x80, delta = 0, bias = 72, handled = basic;
    while (handled < input.size()) {
        std::uint32_t m = kMax;
        for (char32_t c : input)
            if (c >= n && c < m) m = c;
        if (m - n > (kMax - delta) / (handled + 1)) return std::nullopt;
        delta += (m - n) * (handled + 1);
        n = m;
        for (char32_t c : input) {
            if (c < n && ++delta == 0) return std::nullopt;
            if (c != n) continue;
            std::uint32_t q = delta;
            for (std::uint32_t k = kBase;; k += kBase) {
                const std::uint32_t t = k <= bias ? kTmin : k >= bias + kTmax ? kTmax : k - bias;
                if (q < t) break;
                out.push_back(digit(t + (q - t) % (kBase - t)));
                q = (q - t) / (kBase - t);
            }
            out.push_back(digit(q));
            bias = adapt(delta, handled + 1, handled == basic);
            delta = 0;
            ++handled;
        }
        ++delta;
        ++n;
    }
    return out;
}

// A label with a deviation character: the pieces between them mapped by the
// system, the joiners judged in what that gives, the hyphen rules of
// IDNA2008, then the ACE.
std::optional<std::string> DeviantLabel(const std::u32string& label) {
    std::u32string mapped, piece;
    for (std::size_t i = 0; i <= label.size(); ++i) {
        if (i < label.size() && !IsDeviation(label[i])) {
            piece.push_back(label[i]);
            continue;
        }
        if (!piece.empty()) {
            const auto pieceMapped = SystemMapped(piece);
            if (!pieceMapped) return std::nullopt;
            mapped += *pieceMapped;
            piece.clear();
        }
        if (i < label.size()) mapped.push_back(label[i]);
    }
    for (std::size_t i = 0; i < mapped.size(); ++i)
        if ((mapped[i] == kZwj || mapped[i] == kZwnj) && !JoinerAllowed(mapped, i)) return std::nullopt;
    if (mapped.front() == U'-' || mapped.back() == U'-') return std::nullopt;
    if (mapped.size() >= 4 && mapped[2] == U'-' && mapped[3] == U'-') return std::nullopt;
    const auto code = Punycode(mapped);
    if (!code || code->size() + 4 > kMaxLabel) return std::nullopt;
    return "xn--" + *code;
}

bool IsDot(char32_t c) { return c == U'.' || c == 0x3002 || c == 0xFF0E || c == 0xFF61; }

}  // namespace

std::optional<std::string> IdnToAscii(std::string_view utf8) {
    const std::wstring wide = Widen(utf8);
    if (wide.empty() || wide.find(L'\0') != std::wstring::npos) return std::nullopt;
    const auto nfc = Nfc(wide);
    if (!nfc) return std::nullopt;
    const std::u32string name = text::Decode(Narrow(*nfc));
    if (std::none_of(name.begin(), name.end(), IsDeviation)) {
        const auto ascii = SystemAscii(wide);
        if (!ascii) return std::nullopt;
        return Narrow(*ascii);
    }
    std::string out;
    std::u32string label;
    for (std::size_t i = 0; i <= name.size(); ++i) {
        if (i < name.size() && !IsDot(name[i])) {
            label.push_back(name[i]);
            continue;
        }
        std::optional<std::string> ascii;
        if (std::any_of(label.begin(), label.end(), IsDeviation)) {
            ascii = DeviantLabel(label);
        } else if (!label.empty()) {
            const auto system = SystemAscii(Widen(text::Encode(label)));
            if (system) ascii = Narrow(*system);
        } else if (i == name.size()) {
            ascii = "";  // the root after a trailing dot
        }
        if (!ascii) return std::nullopt;
        out += *ascii;
        if (i < name.size()) out.push_back('.');
        label.clear();
    }
    return out;
}

}  // namespace tarnwell::platform
