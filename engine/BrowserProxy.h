#pragma once
#include "engine/CheckRecord.h"
#include "platform/Files.h"
#include "platform/Http.h"
#include "platform/Proxy.h"
#include "platform/Sockets.h"

#include <chrono>
#include <cstddef>
#include <optional>
#include <string>
#include <string_view>

// The browser's road to a domain: its proxy settings, read as the desktop's
// browsers read them, and the auto-config file they may name, fetched and
// run.
namespace tarnwell {

inline constexpr std::chrono::milliseconds kProxyWait{2000};  // the whole stage
inline constexpr std::chrono::milliseconds kPacRunWait{1000};  // an auto-config file's run, every call of it
inline constexpr std::chrono::milliseconds kProxyLookupWait{1000};  // the proxies' names, before their probes
inline constexpr std::size_t kMaxPacBytes = 1u << 20;

// Names asked of the same settings, to tell whether other sites go direct.
inline constexpr std::string_view kControlNames[] = {"example.com", "example.org"};

// What the stage uses of the platform: objects that live as long as the
// process (a lookup the stage gives up on is left to end by itself).
struct ProxyServices {
    platform::ProxySettingsReader& reader;
    platform::Http& http;
    platform::Files& files;
    platform::Sockets& sockets;
};

// The road to `host` (an ACE name) by `deadline`; nothing when the settings
// set neither a proxy nor an auto-config file (automatic detection that
// finds none sets nothing). Without `run` (proxy = off) the settings are
// read, but automatic detection is not run, nor is any file fetched or run.
// The auto-config file's text, when one was fetched, goes to `script`.
std::optional<ProxyRecord> FindBrowserProxy(const std::string& host, const ProxyServices& services, bool run,
                                            std::chrono::steady_clock::time_point deadline,
                                            std::string* script = nullptr);

// The proxy the settings give for a request of the check's own to `url` (a
// witness's post, an issuer's fetch), as a browser's request would take
// it: the first entry of its road. Direct when nothing is set, for a host
// the bypass list names, when the settings turn the stage off, and when
// the auto-config file `script` could not be had or run (by `deadline`,
// kPacRunWait at most).
platform::ProxyEntry RoadOf(const std::optional<ProxyRecord>& proxy, const std::string& script, const std::string& url,
                            const ProxyServices& services, std::chrono::steady_clock::time_point deadline);

// The address of each proxy's host, all looked up at once: the literal
// itself, or the system resolver's first address for the name by
// `deadline`; nothing for a name not resolved by then.
std::vector<std::optional<Address>> ProxyAddresses(const std::vector<platform::ProxyEntry>& proxies,
                                                   platform::Sockets& sockets,
                                                   std::chrono::steady_clock::time_point deadline);

// The system resolver's addresses for each of `names`, all asked at once
// and given up at `deadline`: each lookup runs on a thread of its own, left
// to end by itself when it is late; nothing for a name not resolved in
// time, or when no thread can be had for it.
std::vector<std::vector<Address>> ResolveBy(platform::Sockets& sockets, const std::vector<std::string>& names,
                                            std::chrono::steady_clock::time_point deadline);

}  // namespace tarnwell
