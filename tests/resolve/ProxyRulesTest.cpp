// The browser's proxy strings, auto-config results and bypass lists as Chromium reads them.
#include "resolve/ProxyRules.h"

#include <gtest/gtest.h>

namespace tarnwell::proxy {
namespace {

using enum ProxyScheme;
using Syntax = platform::ProxySettings::BypassSyntax;

// Entries as the report shows them, "; " between; "" for nothing.
std::string Shown(const std::optional<std::vector<ProxyEntry>>& entries) {
    std::string out;
    for (const auto& e : entries.value_or(std::vector<ProxyEntry>{})) out += (out.empty() ? "" : "; ") + EntryText(e);
    return out;
}
std::string Shown(const std::optional<ProxyEntry>& entry) { return entry ? EntryText(*entry) : ""; }

TEST(ProxyRules, ParseProxy) {
    const struct { std::string_view text, want; ProxyScheme fallback = Http; } rows[] = {
        {"http://us:pw@Proxy.Example:3128/x", "HTTP proxy.example:3128"}, {" proxy.test\t", "HTTP proxy.test:80"},
        {"HTTPS://h", "HTTPS h:443"}, {"socks://h", "SOCKS4 h:1080"}, {"socks4://h:1", "SOCKS4 h:1"},
        {"Socks5://u@h?q", "SOCKS5 h:1080"}, {"h:65535", "SOCKS5 h:65535", Socks5}, {"[::1]:3128", "HTTP [::1]:3128"},
        {"http://[FE80::1]", "HTTP [fe80::1]:80"}, {"u:p@h:1#f", "HTTP h:1"}, {"h", "", Direct}, {"", ""}, {"  ", ""},
        {"direct://", ""}, {"ftp://h", ""}, {"://h", ""}, {"h:0", ""}, {"h:65536", ""}, {"h:", ""}, {"h:0x50", ""},
        {"h:+1", ""}, {"h:80:81", ""}, {"::1", ""}, {"[1.2.3.4]:80", ""}, {"[::1", ""}, {"[::1]x", ""}, {"h x", ""},
        {"http://u:p@", ""}, {"h\x01", ""},
    };
    for (const auto& r : rows) EXPECT_EQ(Shown(ParseProxy(r.text, r.fallback)), r.want) << r.text;
}

TEST(ProxyRules, ParsePacResult) {
    const std::pair<std::string_view, std::string_view> rows[] = {
        {"PROXY a:1; DIRECT", "HTTP a:1; DIRECT"}, {"  direct ;;", "DIRECT"}, {"PROXY\tA", "HTTP a:80"},
        {"proxy a:1;https b; socks c;socks4 d:2 ;SOCKS5 [::1]:5;", "HTTP a:1; HTTPS b:443; SOCKS4 c:1080; SOCKS4 d:2"},
        {"Socks5 e", "SOCKS5 e:1080"}, {"", ""}, {" ; ", ""}, {"PROXY", ""}, {"FOO a:1", ""}, {"PROXY a:1; QUIC b:1", ""},
        {"DIRECT x", ""}, {"PROXY a:0", ""}, {"PROXY a:1 b", ""}, {"PROXY u@a:1", ""}, {"PROXY a:1/", ""},
        {"PROXY a; PROXY b; PROXY c; PROXY d; PROXY e:99999", ""},
    };
    for (const auto& [text, want] : rows) EXPECT_EQ(Shown(ParsePacResult(text)), want) << text;
}

TEST(ProxyRules, WithoutCredentials) {
    for (const auto& [text, want] : std::initializer_list<std::pair<std::string_view, std::string_view>>{
             {"http://u:p@h:1/x", "http://h:1/x"}, {"u:p@h:1", "h:1"}, {"socks5://u@h", "socks5://h"},
             {"http://a@b@h?x@y", "http://h?x@y"}, {"http://h/p@q", "http://h/p@q"}, {"h#@", "h#@"}})
        EXPECT_EQ(WithoutCredentials(text), want);
}

// What a proxy is asked to reach for a URL, written "scheme host port", and how an entry's host and port read.
TEST(ProxyRules, TargetOf) {
    const std::pair<const char*, const char*> rows[] = {
        {"https://DoH.test/dns-query", "https doh.test 443"}, {"http://u:p@[2001:DB8::1]:8080/x", "http 2001:db8::1 8080"},
        {"http://ca.test?x", "http ca.test 80"}, {"ftp://a.test/", ""}, {"https://:443/", ""}, {"https://a.test:0/", ""},
        {"a.test", ""}, {"https://[::1/", ""}};
    for (const auto& [url, want] : rows) {
        const auto t = TargetOf(url);
        EXPECT_EQ(t ? t->scheme + " " + t->host + " " + std::to_string(t->port) : "", want) << url;
    }
    EXPECT_EQ(HostPort({ProxyScheme::Socks5, "2001:db8::8", 1080}), "[2001:db8::8]:1080");
}

TEST(ProxyRules, Bypass) {
    struct Probe { const char* host; bool want; std::uint16_t port = 80; const char* scheme = "http"; };
    const struct { std::string_view list; std::vector<Probe> probes; Syntax syntax = Syntax::Suffix; } rows[] = {
        {"example.com", {{"example.com", true}, {"www.example.com", true}, {"badexample.com", true}, {"a.org", false}}},
        {".Example.com", {{"www.example.com", true}, {"example.com", false}}}, {"*", {{"a.test", true}, {"192.0.2.1", true}}},
        {"192.168.0.0/16,[fe80::]/10 2001:db8::/32", {{"192.168.3.4", true}, {"192.169.0.1", false}, {"fe80::1", true},
            {"2001:db8::5", true}, {"2001:db9::", false}, {"::ffff:192.168.1.1", true}, {"192.168.a", false}}},
        {"10.0.0.1;[::2]:8080", {{"10.0.0.1", true}, {"10.0.0.10", false}, {"::2", true, 8080}, {"::2", false}}},
        {"a.test:8080 https://b.test", {{"a.test", true, 8080}, {"a.test", false}, {"b.test", true, 1, "https"}, {"b.test", false}}},
        {"<Local>", {{"intranet", true}, {"a.test", false}, {"::2", false}}}, {"<-loopback>", {{"localhost", false}, {"127.0.0.1", false}}},
        {"", {{"localhost", true}, {"a.localhost", true}, {"127.1.2.3", true}, {"::1", true}, {"128.0.0.1", false}, {"localhost.test", false}}},
        {"LOCALHOST,<-loopback>", {{"localhost", true}, {"a.localhost", false}, {"::1", false}}, Syntax::Wildcard},
        {"example.com *.b.test 192.168.*", {{"example.com", true}, {"badexample.com", false}, {"www.example.com", false},
            {"x.b.test", true}, {"b.test", false}, {"192.168.1.1", true}}, Syntax::Wildcard},
        {"a.test:99999 ://b.test 1.2.3.4/33 [1::/8 c.test", {{"a.test", false}, {"b.test", false}, {"1.2.3.4", false}, {"1::", false}, {"c.test", true}}},
    };
    for (const auto& r : rows)
        for (const auto& p : r.probes)
            EXPECT_EQ(BypassRules(r.list, r.syntax).Matches(p.scheme, p.host, p.port), p.want) << r.list << " " << p.host;
}

}  // namespace
}  // namespace tarnwell::proxy
