#include "resolve/HostName.h"

#include "common/Failure.h"
#include "common/Text.h"
#include "platform/CodePage.h"
#include "resolve/DnsMessage.h"

#include <algorithm>

namespace tarnwell {

namespace {

bool Digit(char c) { return c >= '0' && c <= '9'; }
bool HexDigit(char c) { return Digit(c) || (c >= 'a' && c <= 'f') || (c >= 'A' && c <= 'F'); }

// A part of an address as inet_aton reads it: decimal, octal or 0x hex.
bool NumberPart(std::string_view part) {
    if (part.size() > 2 && part[0] == '0' && (part[1] == 'x' || part[1] == 'X'))
        return std::all_of(part.begin() + 2, part.end(), HexDigit);
    return !part.empty() && std::all_of(part.begin(), part.end(), Digit);
}

// Whether a resolver would take the name as an IPv4 address (inet_aton's
// one to four parts, "0x7f.1", "2130706433"), or whether it ends in an
// all-numeric label, which no top-level domain is (RFC 3696 section 2).
bool LooksLikeAddress(std::string_view name) {
    const auto last = name.substr(name.rfind('.') + 1);
    if (std::all_of(last.begin(), last.end(), Digit)) return true;
    std::size_t parts = 1;
    for (std::size_t start = 0;; ++parts) {
        const auto dot = name.find('.', start);
        if (!NumberPart(name.substr(start, dot - start))) return false;
        if (dot == std::string_view::npos) break;
        start = dot + 1;
    }
    return parts <= 4;
}

// RFC 5891 section 4.2.3.1, which every platform's IDNA must apply alike: a
// label with characters beyond ASCII neither begins nor ends with a hyphen,
// nor has hyphens in its third and fourth places.
bool HyphensAllowed(std::string_view name) {
    for (std::size_t start = 0; start <= name.size();) {
        const auto dot = std::min(name.find('.', start), name.size());
        const auto label = text::Decode(name.substr(start, dot - start));
        start = dot + 1;
        if (std::all_of(label.begin(), label.end(), [](char32_t c) { return c < 0x80; })) continue;
        if (label.front() == U'-' || label.back() == U'-') return false;
        if (label.size() >= 4 && label[2] == U'-' && label[3] == U'-') return false;
    }
    return true;
}

// RFC 1123 section 2.1 (LDH): a label neither begins nor ends with a hyphen.
bool HyphensInside(std::string_view name) {
    for (std::size_t start = 0; start <= name.size();) {
        const auto dot = std::min(name.find('.', start), name.size());
        const auto label = name.substr(start, dot - start);
        if (label.starts_with('-') || label.ends_with('-')) return false;
        start = dot + 1;
    }
    return true;
}

}  // namespace

HostName MakeHostName(const std::string& domain) {
    std::string_view typed = domain;
    if (typed.ends_with('.')) typed.remove_suffix(1);
    HostName name;
    if (std::all_of(typed.begin(), typed.end(), [](char c) { return static_cast<unsigned char>(c) < 0x80; })) {
        name.ace = typed;
    } else {
        const auto ace = HyphensAllowed(typed) ? platform::IdnToAscii(typed) : std::nullopt;
        if (!ace) throw Failure("IDNA refuses the name");
        name.ace = *ace;
    }
    name.qname = dns::EncodeQName(name.ace);
    if (name.ace.find('.') == std::string::npos) throw Failure("a name without a dot");
    if (LooksLikeAddress(name.ace)) throw Failure("an address, not a name");
    if (!HyphensInside(name.ace)) throw Failure("a label begins or ends with a hyphen");
    return name;
}

bool UnderLocalhost(std::string_view ace) {
    constexpr std::string_view kLocal = ".localhost";
    return ace.size() > kLocal.size() &&
           std::equal(kLocal.begin(), kLocal.end(), ace.end() - kLocal.size(),
                      [](char l, char c) { return l == (c >= 'A' && c <= 'Z' ? c - 'A' + 'a' : c); });
}

}  // namespace tarnwell
