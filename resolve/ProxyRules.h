#pragma once
#include "platform/Proxy.h"

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

// What the browser's proxy settings mean, as Chromium reads them: proxy
// strings, bypass lists and the results of an auto-config script. Pure
// functions.
namespace tarnwell::proxy {

using platform::ProxyEntry;
using platform::ProxyScheme;

// The most entries of a list kept: the browser falls back from one to the next.
inline constexpr std::size_t kMaxEntries = 4;

// A proxy setting "[scheme://][user:password@]host[:port][/]": schemes http
// (port 80), https (443), socks and socks4 (SOCKS4, 1080), socks5 (1080);
// none: `fallback`. The credentials are dropped. Nothing when it names no
// proxy (empty, another scheme, no host, a bad port).
std::optional<ProxyEntry> ParseProxy(std::string_view text, ProxyScheme fallback = ProxyScheme::Http);

// A result of FindProxyForURL: entries apart by ';' ("PROXY h:p",
// "HTTPS h:p", "SOCKS h:p", "SOCKS4 h:p", "SOCKS5 h:p", "DIRECT"), any
// letters' case, at most kMaxEntries of them kept. Nothing for junk: an
// empty result, an unknown word, a bad host or port.
std::optional<std::vector<ProxyEntry>> ParsePacResult(std::string_view result);

// A URL or proxy setting without its "user:password@" part.
std::string WithoutCredentials(std::string_view text);

// A bypass list: entries apart by ',', ';' or blanks, each a host pattern
// with '*' wildcards and an optional scheme and port, an IP address or an
// address prefix ("192.168.0.0/16", "[fe80::]/10"), "*" for every host,
// "<local>" for plain host names, or "<-loopback>" to take away the
// implicit rule that localhost and loopback addresses always go direct.
class BypassRules {
public:
    BypassRules(std::string_view list, platform::ProxySettings::BypassSyntax syntax);
    // Whether a URL of `scheme` ("https", "http") to `host` (an ACE name or
    // an address, lowercase, IPv6 without brackets) on `port` goes direct.
    bool Matches(std::string_view scheme, std::string_view host, std::uint16_t port) const;

private:
    struct Rule {
        std::string scheme;  // empty: any
        std::string pattern;  // a host pattern, lowercase; empty for an address rule
        std::optional<Address> network;
        int prefix = -1;
        int port = -1;  // -1: any
        bool local = false;
    };
    std::vector<Rule> rules_;
    bool loopback_ = true;
};

// How an entry reads in the report: "HTTP h:p", "HTTPS h:p", "SOCKS4 h:p",
// "SOCKS5 h:p" (an IPv6 host in brackets), or "DIRECT".
std::string EntryText(const ProxyEntry& entry);

// "h:p" of an entry, an IPv6 host in brackets.
std::string HostPort(const ProxyEntry& entry);

// What a proxy is asked to reach for a URL.
struct UrlTarget {
    std::string scheme;  // "http" or "https"
    std::string host;    // lowercase, an IPv6 address without its brackets
    std::uint16_t port = 0;
};

// The target of an http or https URL, its port the scheme's own when it
// names none; nothing for another scheme or no host.
std::optional<UrlTarget> TargetOf(std::string_view url);

}  // namespace tarnwell::proxy
