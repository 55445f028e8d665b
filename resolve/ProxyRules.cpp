#include "resolve/ProxyRules.h"

#include "resolve/HostName.h"

#include <algorithm>
#include <array>
#include <tuple>
#include <utility>

// Chromium's readings: a proxy string as ProxyUriToProxyChain takes it, a
// PAC result as ProxyList::SetFromPacString, a bypass list as
// ProxyBypassRules. Where Chromium passes over a bad PAC element, a result
// with one is junk here.
namespace tarnwell::proxy {

namespace {

using Syntax = platform::ProxySettings::BypassSyntax;
constexpr std::string_view kBlanks = " \t\n\v\f\r";
constexpr auto npos = std::string_view::npos;

std::string_view Trim(std::string_view s) {
    const auto first = s.find_first_not_of(kBlanks);
    return first == npos ? std::string_view{} : s.substr(first, s.find_last_not_of(kBlanks) - first + 1);
}

std::string Lower(std::string_view s) {
    std::string out(s);
    for (char& c : out)
        if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
    return out;
}

std::vector<std::string_view> Split(std::string_view s, std::string_view delimiters) {
    std::vector<std::string_view> pieces;
    for (auto end = s.find_first_of(delimiters);; end = s.find_first_of(delimiters)) {
        pieces.push_back(s.substr(0, end));
        if (end == npos) return pieces;
        s.remove_prefix(end + 1);
    }
}

// Decimal digits only, of a value up to `most`.
std::optional<int> Decimal(std::string_view s, int most) {
    if (s.empty() || s.size() > 5) return std::nullopt;
    int value = 0;
    for (const char c : s) {
        if (c < '0' || c > '9') return std::nullopt;
        value = value * 10 + (c - '0');
    }
    return value <= most ? std::optional(value) : std::nullopt;
}

// Where a URL's authority begins: after "scheme://" when the first ':' is
// followed by "//", as Chromium looks for a proxy string's scheme.
std::size_t AuthorityStart(std::string_view s) {
    const auto colon = s.find(':');
    return colon != npos && s.substr(colon).starts_with("://") ? colon + 3 : 0;
}

// "host", "host:port", "[v6]" or "[v6]:port"; the port, when there is a ':',
// as written (perhaps empty).
struct HostPort {
    std::string_view host;
    std::optional<std::string_view> port;
    bool bracketed = false;
};
std::optional<HostPort> SplitHostPort(std::string_view s) {
    HostPort out;
    if (s.starts_with('[')) {
        const auto close = s.find(']');
        if (close == npos || (close + 1 < s.size() && s[close + 1] != ':')) return std::nullopt;
        out.host = s.substr(1, close - 1);
        out.bracketed = true;
        if (close + 1 < s.size()) out.port = s.substr(close + 2);
        return out;
    }
    const auto colon = s.find(':');
    out.host = s.substr(0, colon);
    if (colon != npos) out.port = s.substr(colon + 1);
    return out;
}

bool HostOctet(char c) {
    const auto u = static_cast<unsigned char>(c);
    return u > 0x20 && u != 0x7f && std::string_view("[]\\@/?#:").find(c) == npos;
}

std::uint16_t DefaultPort(ProxyScheme scheme) {
    return scheme == ProxyScheme::Http ? 80 : scheme == ProxyScheme::Https ? 443 : 1080;
}

// A proxy at "host[:port]", the port 1 to 65535, the scheme's own when none.
std::optional<ProxyEntry> Endpoint(ProxyScheme scheme, std::string_view text) {
    const auto split = SplitHostPort(text);
    if (!split || split->host.empty()) return std::nullopt;
    if (split->bracketed) {
        const auto address = Address::Parse(split->host);
        if (!address || address->IsV4()) return std::nullopt;
    } else if (!std::ranges::all_of(split->host, HostOctet)) {
        return std::nullopt;
    }
    int port = DefaultPort(scheme);
    if (split->port) {
        const auto given = Decimal(*split->port, 65535);
        if (!given || *given == 0) return std::nullopt;
        port = *given;
    }
    return ProxyEntry{scheme, Lower(split->host), static_cast<std::uint16_t>(port)};
}

template <std::size_t N>
std::optional<ProxyScheme> Named(const std::pair<std::string_view, ProxyScheme> (&names)[N], std::string_view word) {
    const std::string lower = Lower(word);
    for (const auto& [name, scheme] : names)
        if (name == lower) return scheme;
    return std::nullopt;
}

constexpr std::pair<std::string_view, ProxyScheme> kUriSchemes[] = {
    {"http", ProxyScheme::Http},     {"https", ProxyScheme::Https},   {"socks", ProxyScheme::Socks4},
    {"socks4", ProxyScheme::Socks4}, {"socks5", ProxyScheme::Socks5},
};
constexpr std::pair<std::string_view, ProxyScheme> kPacWords[] = {
    {"proxy", ProxyScheme::Http},    {"https", ProxyScheme::Https},   {"socks", ProxyScheme::Socks4},
    {"socks4", ProxyScheme::Socks4}, {"socks5", ProxyScheme::Socks5},
};

// An address alone, or "a.b.c.d:port" or "[v6]:port"; the port -1 when none.
std::optional<std::pair<Address, int>> AddressAndPort(std::string_view s) {
    if (const auto address = Address::Parse(s)) return std::pair(*address, -1);
    const auto split = SplitHostPort(s);
    const auto address = split ? Address::Parse(split->host) : std::nullopt;
    const auto port = split && split->port ? Decimal(*split->port, 65535) : std::optional(-1);
    if (!address || !port || address->IsV4() == split->bracketed) return std::nullopt;
    return std::pair(*address, *port);
}

// An address in 16 octets, IPv4 as IPv4-mapped IPv6 (RFC 4291 section 2.5.5.2).
std::array<std::uint8_t, Address::kV6Size> Mapped(const Address& a) {
    std::array<std::uint8_t, Address::kV6Size> out{};
    if (a.IsV4()) out[10] = out[11] = 0xff;
    std::ranges::copy(a.Bytes(), out.end() - a.Bytes().size());
    return out;
}

// Whether `a` is `network` (prefix -1) or within its first `prefix` bits;
// an IPv4 address and an IPv6 prefix meet as IPv4-mapped, as in Chromium.
bool Within(const Address& a, const Address& network, int prefix) {
    if (prefix < 0) return a == network;
    const int bits = prefix + (network.IsV4() ? 96 : 0);
    const auto x = Mapped(a), y = Mapped(network);
    for (int i = 0; i < bits; ++i)
        if (((x[i / 8] ^ y[i / 8]) >> (7 - i % 8)) & 1) return false;
    return true;
}

// The whole of `s` against `pattern`, where '*' stands for any run of octets.
bool WildcardMatch(std::string_view s, std::string_view pattern) {
    std::size_t i = 0, j = 0, star = npos, resume = 0;
    while (i < s.size()) {
        if (j < pattern.size() && pattern[j] == '*') {
            star = j++;
            resume = i;
        } else if (j < pattern.size() && pattern[j] == s[i]) {
            ++i, ++j;
        } else if (star != npos) {
            j = star + 1;
            i = ++resume;
        } else {
            return false;
        }
    }
    return pattern.find_first_not_of('*', j) == npos;
}

}  // namespace

std::optional<ProxyEntry> ParseProxy(std::string_view text, ProxyScheme fallback) {
    text = Trim(text);
    ProxyScheme scheme = fallback;
    if (const auto start = AuthorityStart(text); start > 0) {
        const auto named = Named(kUriSchemes, text.substr(0, start - 3));
        if (!named) return std::nullopt;
        scheme = *named;
        text.remove_prefix(start);
    }
    if (scheme == ProxyScheme::Direct) return std::nullopt;
    text = text.substr(0, text.find_first_of("/?#"));
    if (const auto at = text.rfind('@'); at != npos) text.remove_prefix(at + 1);
    return Endpoint(scheme, text);
}

std::optional<std::vector<ProxyEntry>> ParsePacResult(std::string_view result) {
    std::vector<ProxyEntry> entries;
    for (auto element : Split(result, ";")) {
        element = Trim(element);
        if (element.empty()) continue;
        const auto blank = element.find_first_of(kBlanks);
        const auto word = element.substr(0, blank);
        const auto rest = blank == npos ? std::string_view{} : Trim(element.substr(blank));
        std::optional<ProxyEntry> entry;
        if (Lower(word) == "direct") {
            if (rest.empty()) entry = ProxyEntry{};
        } else if (const auto scheme = Named(kPacWords, word)) {
            entry = Endpoint(*scheme, rest);
        }
        if (!entry) return std::nullopt;
        if (entries.size() < kMaxEntries) entries.push_back(std::move(*entry));
    }
    if (entries.empty()) return std::nullopt;
    return entries;
}

std::string WithoutCredentials(std::string_view text) {
    const auto start = AuthorityStart(text);
    const auto at = text.substr(0, text.find_first_of("/?#", start)).rfind('@');
    if (at == npos || at < start) return std::string(text);
    return std::string(text.substr(0, start)).append(text.substr(at + 1));
}

// Each entry as ProxyBypassRules::AddRuleFromString reads it: "<local>",
// "<-loopback>", then "[scheme://]" and an address prefix, an address with
// an optional port, or a host pattern with an optional port. An entry that
// is none of them is passed over.
BypassRules::BypassRules(std::string_view list, Syntax syntax) {
    for (const auto piece : Split(list, std::string(",;").append(kBlanks))) {
        const std::string entry = Lower(piece);
        if (entry.empty()) continue;
        if (entry == "<-loopback>") {
            loopback_ = false;
            continue;
        }
        if (entry == "<local>") {
            rules_.emplace_back().local = true;
            continue;
        }
        Rule rule;
        std::string_view rest = entry;
        if (const auto sep = rest.find("://"); sep != npos) {
            rule.scheme = rest.substr(0, sep);
            rest.remove_prefix(sep + 3);
            if (rule.scheme.empty() || rest.empty()) continue;
        }
        if (const auto slash = rest.find('/'); slash != npos) {
            auto address = rest.substr(0, slash);
            if (address.size() > 2 && address.starts_with('[') && address.ends_with(']'))
                address = address.substr(1, address.size() - 2);
            rule.network = Address::Parse(address);
            const auto bits = Decimal(rest.substr(slash + 1), rule.network && rule.network->IsV4() ? 32 : 128);
            if (!rule.network || !bits) continue;
            rule.prefix = *bits;
        } else if (const auto literal = AddressAndPort(rest)) {
            std::tie(rule.network, rule.port) = *literal;
        } else {
            std::string_view pattern = rest;
            if (const auto colon = pattern.rfind(':'); colon != npos) {
                const auto port = Decimal(pattern.substr(colon + 1), 65535);
                if (!port) continue;
                rule.port = *port;
                pattern = pattern.substr(0, colon);
            }
            if (pattern.empty()) continue;
            // ".example.com" is "*.example.com"; a suffix list's "example.com" is "*example.com".
            const bool star = pattern.starts_with('.') || (syntax == Syntax::Suffix && !pattern.starts_with('*'));
            rule.pattern = std::string(star ? "*" : "").append(pattern);
        }
        rules_.push_back(std::move(rule));
    }
}

bool BypassRules::Matches(std::string_view scheme, std::string_view host, std::uint16_t port) const {
    const std::string name = Lower(host);
    const auto address = Address::Parse(name);
    for (const Rule& rule : rules_) {
        if ((!rule.scheme.empty() && rule.scheme != scheme) || (rule.port >= 0 && rule.port != port)) continue;
        if (rule.local ? name.find('.') == npos && !address
            : rule.network ? address && Within(*address, *rule.network, rule.prefix)
                           : WildcardMatch(name, rule.pattern))
            return true;
    }
    // The implicit rule: this computer, by name or loopback address.
    std::string_view bare = name;
    if (bare.ends_with('.')) bare.remove_suffix(1);
    return loopback_ && (address ? address->IsLoopback() : bare == "localhost" || UnderLocalhost(bare));
}

std::string HostPort(const ProxyEntry& entry) {
    const bool v6 = entry.host.find(':') != std::string::npos;
    return (v6 ? "[" + entry.host + "]" : entry.host) + ":" + std::to_string(entry.port);
}

std::optional<UrlTarget> TargetOf(std::string_view url) {
    const auto start = AuthorityStart(url);
    const std::string scheme = Lower(url.substr(0, start ? start - 3 : 0));
    if (scheme != "http" && scheme != "https") return std::nullopt;
    std::string_view authority = url.substr(start);
    authority = authority.substr(0, authority.find_first_of("/?#"));
    if (const auto at = authority.rfind('@'); at != npos) authority.remove_prefix(at + 1);
    UrlTarget target{scheme, "", static_cast<std::uint16_t>(scheme == "https" ? 443 : 80)};
    std::string_view host = authority, port;
    if (authority.starts_with('[')) {
        const auto close = authority.find(']');
        if (close == npos) return std::nullopt;
        host = authority.substr(1, close - 1);
        if (authority.substr(close + 1).starts_with(':')) port = authority.substr(close + 2);
    } else if (const auto colon = authority.find(':'); colon != npos) {
        host = authority.substr(0, colon);
        port = authority.substr(colon + 1);
    }
    if (host.empty()) return std::nullopt;
    if (!port.empty()) {
        const auto number = Decimal(port, 65535);
        if (!number || *number == 0) return std::nullopt;
        target.port = static_cast<std::uint16_t>(*number);
    }
    target.host = Lower(host);
    return target;
}

std::string EntryText(const ProxyEntry& entry) {
    std::string word;
    switch (entry.scheme) {
        case ProxyScheme::Direct: return "DIRECT";
        case ProxyScheme::Http: word = "HTTP"; break;
        case ProxyScheme::Https: word = "HTTPS"; break;
        case ProxyScheme::Socks4: word = "SOCKS4"; break;
        case ProxyScheme::Socks5: word = "SOCKS5"; break;
    }
    const bool v6 = entry.host.find(':') != std::string::npos;
    return word + " " + (v6 ? "[" + entry.host + "]" : entry.host) + ":" + std::to_string(entry.port);
}

}  // namespace tarnwell::proxy
