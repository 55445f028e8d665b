#pragma once
#include "common/Address.h"

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

// The browser's proxy: where its settings are, and the auto-config (PAC)
// scripts they may name.
namespace tarnwell::platform {

// How one entry of a proxy list reaches the web.
enum class ProxyScheme {
    Direct,  // no proxy
    Http,    // "PROXY h:p": an HTTP proxy, CONNECT for https (RFC 9110 section 9.3.6)
    Https,   // "HTTPS h:p": the same, over TLS to the proxy
    Socks4,  // "SOCKS h:p", "SOCKS4 h:p"
    Socks5,  // "SOCKS5 h:p" (RFC 1928)
};

struct ProxyEntry {
    ProxyScheme scheme = ProxyScheme::Direct;
    std::string host;  // as written, no brackets around an IPv6 address
    std::uint16_t port = 0;
    bool operator==(const ProxyEntry&) const = default;
};

// Where a browser finds its proxy settings.
enum class ProxyOrigin {
    Environment,  // variables, read as Chromium reads them on a desktop without settings of its own
    Desktop,      // the desktop's or the system's settings: GNOME, KDE, the Internet Options
};

// The browser's proxy settings as found, in their own strings; what they
// mean is worked out above this layer.
struct ProxySettings {
    enum class Mode {
        Direct,      // nothing set
        Manual,      // a proxy for each scheme
        AutoConfig,  // a PAC file at pacUrl
        AutoDetect,  // WPAD: pacUrl is the URL it found, empty when it found none or was not run
    };
    // How a bypass list's entries match a host, as Chromium reads them: the
    // environment's no_proxy and KDE's NoProxyFor match host suffixes
    // ("example.com" is "*example.com"); GNOME's and Windows' lists match
    // whole names and wildcards.
    enum class BypassSyntax { Suffix, Wildcard };

    Mode mode = Mode::Direct;
    ProxyOrigin origin = ProxyOrigin::Environment;
    std::string where = {};  // what holds them: a variable's name, "org.gnome.system.proxy", a file's path, a registry key
    // Manual: the proxy for https:// and for http:// URLs, each as
    // "[scheme://][user:password@]host[:port]" (no scheme: an HTTP proxy;
    // empty: direct), and the name of the variable or key it was read from.
    std::string https = {}, httpsName = {};
    std::string http = {}, httpName = {};
    std::string bypass = {};  // hosts that go direct, in the list's own syntax
    BypassSyntax bypassSyntax = BypassSyntax::Suffix;
    std::string pacUrl = {};   // AutoConfig, AutoDetect
    std::string pacName = {};  // the variable or key that named it ("auto_proxy", "autoconfig-url", "AutoConfigURL")
    bool operator==(const ProxySettings&) const = default;
};

// The current user's proxy settings, as the desktop's browsers read them.
class ProxySettingsReader {
public:
    virtual ~ProxySettingsReader() = default;
    // Read by `deadline`. With `detect`, automatic detection that is on is
    // run (WPAD) for the URL it finds; without, AutoDetect comes back with
    // no URL. Safe to call on several threads at once; what does not change
    // within a run may be read once.
    virtual ProxySettings Read(std::chrono::steady_clock::time_point deadline, bool detect) = 0;
};

// ---- PAC scripts ---------------------------------------------------------

// Why a script gave no result.
enum class PacFault {
    None,
    Timeout,  // it ran past its deadline (a loop, a regular expression without end)
    Memory,   // it wanted more memory than a script is given
    Script,   // it did not compile, threw, or defines no FindProxyForURL
    Answer,   // FindProxyForURL returned no string
};

// One call of FindProxyForURL(url, host).
struct PacCall {
    std::string url;
    std::string host;
};

struct PacOutcome {
    PacFault fault = PacFault::None;
    std::vector<std::string> results;  // one a call, in order, when no fault
};

// What a script may ask of the computer, through the globals Chromium gives
// it (dnsResolve, myIpAddress and their Ex forms).
struct PacHost {
    // The system resolver's addresses for a host name, by the deadline
    // (nothing when it does not resolve in time).
    std::function<std::vector<Address>(const std::string& host, std::chrono::steady_clock::time_point deadline)>
        resolve;
    // The computer's own addresses, for myIpAddress.
    std::function<std::vector<Address>()> ownAddresses;
};

// The most memory a script is given.
inline constexpr std::size_t kPacMemory = 16u << 20;

// Runs `script` in a fresh interpreter and calls FindProxyForURL for each
// call in turn, all by `deadline` and within kPacMemory; the script is
// hostile input, and whatever it does ends in a result or a fault.
PacOutcome RunPac(std::string_view script, const std::vector<PacCall>& calls,
                  std::chrono::steady_clock::time_point deadline, const PacHost& host);

}  // namespace tarnwell::platform
