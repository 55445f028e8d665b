#include "platform/win32/WinProxy.h"

#include "platform/win32/WinText.h"

#include <algorithm>
#include <condition_variable>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <thread>
#include <utility>

namespace tarnwell::platform {

namespace {

using Clock = std::chrono::steady_clock;

constexpr const char* kWhere = "HKCU\\Software\\Microsoft\\Windows\\CurrentVersion\\Internet Settings";

// The Internet Options as WinHTTP gives them, in UTF-8.
struct IeConfig {
    bool autoDetect = false;
    std::string proxy, bypass, autoConfigUrl;
};

// One WinHTTP call of the reader's: whether its thread has started, and
// what it gave once it has ended.
template <class T>
struct Once {
    bool started = false;
    std::optional<T> result;
};

}  // namespace

struct WinProxySettings::Shared {
    explicit Shared(WinProxyCalls c) : calls(std::move(c)) {}
    const WinProxyCalls calls;
    std::mutex mutex;
    std::condition_variable changed;
    Once<IeConfig> config;
    Once<std::string> wpad;  // the URL automatic detection found, empty when none
};

namespace {

using Shared = WinProxySettings::Shared;

// The strings of a WinHTTP call, each the caller's to give back with
// GlobalFree once read, whatever the call returned.
class Returned {
public:
    explicit Returned(const WinProxyCalls& calls) : calls_(calls) {}
    ~Returned() {
        for (LPWSTR text : texts_)
            if (text) calls_.free(text);
    }
    Returned(const Returned&) = delete;
    Returned& operator=(const Returned&) = delete;
    void Own(LPWSTR text) { texts_[count_++] = text; }

private:
    const WinProxyCalls& calls_;
    LPWSTR texts_[3] = {};
    int count_ = 0;
};

std::string Utf8(LPCWSTR text) { return text ? Narrow(text) : std::string(); }

IeConfig ReadConfig(const WinProxyCalls& calls) {
    WINHTTP_CURRENT_USER_IE_PROXY_CONFIG raw{};
    const BOOL read = calls.ieConfig(&raw);
    Returned returned(calls);
    returned.Own(raw.lpszProxy), returned.Own(raw.lpszProxyBypass), returned.Own(raw.lpszAutoConfigUrl);
    if (!read) return {};
    return {raw.fAutoDetect != FALSE, Utf8(raw.lpszProxy), Utf8(raw.lpszProxyBypass), Utf8(raw.lpszAutoConfigUrl)};
}

// WPAD as Internet Explorer runs it: DHCP's option 252, then the DNS name
// "wpad" in the computer's domain.
std::string Detect(const WinProxyCalls& calls) {
    LPWSTR url = nullptr;
    const BOOL found = calls.detect(WINHTTP_AUTO_DETECT_TYPE_DHCP | WINHTTP_AUTO_DETECT_TYPE_DNS_A, &url);
    Returned returned(calls);
    returned.Own(url);
    return found ? Utf8(url) : std::string();
}

// What the call in `slot` gave, when it has ended by the deadline. The
// call runs once, on a thread of its own that owns what it uses, so that
// it may go on past the deadline and leave its result to the Reads after;
// with no thread to be had it gave nothing (and a later Read tries again).
template <class T>
std::optional<T> Await(const std::shared_ptr<Shared>& shared, Once<T> Shared::*slot, T (*call)(const WinProxyCalls&),
                       Clock::time_point deadline) {
    std::unique_lock lock(shared->mutex);
    Once<T>& once = (*shared).*slot;
    if (!once.started) {
        try {
            std::thread([shared, slot, call] {
                T result{};
                try {
                    result = call(shared->calls);
                } catch (const std::exception&) {
                    // no memory for its strings: nothing found
                }
                std::lock_guard lock(shared->mutex);
                ((*shared).*slot).result = std::move(result);
                shared->changed.notify_all();
            }).detach();
            once.started = true;
        } catch (const std::exception&) {
            return T{};
        }
    }
    shared->changed.wait_until(lock, deadline, [&] { return once.result.has_value(); });
    return once.result;
}

// The proxies of a ProxyServer value as WinINet and Chromium read it: one
// "host:port" for every scheme, or "scheme=host:port" entries apart by ';'
// or blanks. A "socks=" entry (SOCKS4 to WinINet) serves the schemes that
// have no entry of their own; other schemes (ftp) are not the browser's.
void Manual(std::string_view list, ProxySettings& s) {
    constexpr std::string_view kApart = "; \t\r\n";
    std::string socks;
    bool perScheme = false;
    for (std::size_t at = list.find_first_not_of(kApart); at != std::string_view::npos;
         at = list.find_first_not_of(kApart, at)) {
        const std::size_t end = std::min(list.find_first_of(kApart, at), list.size());
        const std::string_view entry = list.substr(at, end - at);
        at = end;
        const std::size_t equals = entry.find('=');
        if (equals == std::string_view::npos) {
            if (perScheme) continue;  // Chromium, too, skips it after per-scheme entries
            s.https = s.http = std::string(entry);
            return;
        }
        perScheme = true;
        std::string scheme(entry.substr(0, equals));
        for (char& c : scheme) c = (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c;
        const std::string_view proxy = entry.substr(equals + 1);
        std::string* into = scheme == "https" ? &s.https
                            : scheme == "http" ? &s.http
                            : scheme == "socks" ? &socks
                                                : nullptr;
        if (!into || proxy.empty() || !into->empty()) continue;
        *into = proxy.find("://") == std::string_view::npos && into == &socks ? "socks4://" + std::string(proxy)
                                                                               : std::string(proxy);
    }
    if (s.https.empty()) s.https = socks;
    if (s.http.empty()) s.http = socks;
}

}  // namespace

WinProxySettings::WinProxySettings(WinProxyCalls calls) : shared_(std::make_shared<Shared>(std::move(calls))) {}

ProxySettings WinProxySettings::Read(Clock::time_point deadline, bool detect) {
    using Mode = ProxySettings::Mode;
    ProxySettings s;
    s.origin = ProxyOrigin::Desktop;
    s.where = kWhere;
    s.bypassSyntax = ProxySettings::BypassSyntax::Wildcard;
    const std::optional<IeConfig> config = Await(shared_, &Shared::config, ReadConfig, deadline);
    if (!config) return s;  // not read in time: nothing known
    // Automatic detection first; one that finds no URL (or none in time)
    // is as if it were off.
    if (config->autoDetect) {
        s.mode = Mode::AutoDetect;
        if (!detect) return s;
        if (auto url = Await(shared_, &Shared::wpad, Detect, deadline); url && !url->empty()) {
            s.pacUrl = std::move(*url);
            return s;
        }
        s.mode = Mode::Direct;
    }
    if (!config->autoConfigUrl.empty()) {
        s.mode = Mode::AutoConfig;
        s.pacUrl = config->autoConfigUrl;
        s.pacName = "AutoConfigURL";
        return s;
    }
    Manual(config->proxy, s);
    if (s.https.empty() && s.http.empty()) return s;
    s.mode = Mode::Manual;
    if (!s.https.empty()) s.httpsName = "ProxyServer";
    if (!s.http.empty()) s.httpName = "ProxyServer";
    s.bypass = config->bypass;
    return s;
}

}  // namespace tarnwell::platform
