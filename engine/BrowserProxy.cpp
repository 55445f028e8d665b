#include "engine/BrowserProxy.h"

#include "common/Text.h"
#include "resolve/ProxyRules.h"

#include <algorithm>
#include <cctype>
#include <condition_variable>
#include <memory>
#include <mutex>
#include <thread>
#include <variant>

namespace tarnwell {

namespace {

using Clock = std::chrono::steady_clock;
using platform::ProxyEntry;
using platform::ProxyScheme;
using Mode = platform::ProxySettings::Mode;

const std::vector<ProxyEntry> kDirect{ProxyEntry{}};

// The local path of a file:// URL (RFC 8089): "file:///etc/p.pac" and
// "file://localhost/etc/p.pac" are /etc/p.pac, "file:///C:/p.pac" is C:/p.pac;
// %XX escapes decoded.
std::string FilePath(std::string_view url) {
    url.remove_prefix(7);
    if (text::StartsWithNoCase(url, "localhost/")) url.remove_prefix(9);
    if (url.size() > 2 && url[0] == '/' && std::isalpha(static_cast<unsigned char>(url[1])) && url[2] == ':')
        url.remove_prefix(1);
    std::string path;
    for (std::size_t i = 0; i < url.size(); ++i) {
        if (url[i] == '%' && i + 2 < url.size() && std::isxdigit(static_cast<unsigned char>(url[i + 1])) &&
            std::isxdigit(static_cast<unsigned char>(url[i + 2]))) {
            path.push_back(static_cast<char>(std::stoi(std::string(url.substr(i + 1, 2)), nullptr, 16)));
            i += 2;
        } else {
            path.push_back(url[i]);
        }
    }
    return path;
}

// The auto-config file's text, at most kMaxPacBytes of it, by the deadline.
std::optional<std::string> FetchPac(const std::string& url, const ProxyServices& s, Clock::time_point deadline) {
    if (text::StartsWithNoCase(url, "file://")) {
        auto read = s.files.Read(FilePath(url), kMaxPacBytes);
        if (auto* text = std::get_if<std::string>(&read)) return std::move(*text);
        return std::nullopt;
    }
    if (!text::StartsWithNoCase(url, "http://") && !text::StartsWithNoCase(url, "https://")) return std::nullopt;
    auto reply = s.http.Get(url, kMaxPacBytes, deadline);
    if (reply.end != platform::GetEnd::Reply) return std::nullopt;
    return std::move(reply.body);
}

PacError ErrorOf(platform::PacFault fault) {
    switch (fault) {
        case platform::PacFault::None: return PacError::None;
        case platform::PacFault::Timeout: return PacError::Timeout;
        case platform::PacFault::Memory: return PacError::Memory;
        case platform::PacFault::Script: return PacError::Script;
        case platform::PacFault::Answer: break;
    }
    return PacError::Answer;
}

bool GoesDirect(const std::vector<ProxyEntry>& entries) {
    return !entries.empty() && entries.front().scheme == ProxyScheme::Direct;
}

// A manual proxy: one per scheme, but for the hosts of the bypass list.
void ReadManual(ProxyRecord& r, const std::string& host) {
    const auto& set = r.settings;
    const proxy::BypassRules bypass(set.bypass, set.bypassSyntax);
    const auto road = [&](std::string_view scheme, const std::string& name, std::uint16_t port,
                          const std::string& setting) {
        if (bypass.Matches(scheme, name, port)) return kDirect;
        const auto entry = proxy::ParseProxy(setting);  // one the browser cannot read, it goes without
        return entry ? std::vector<ProxyEntry>{*entry} : kDirect;
    };
    r.entries = road("https", host, 443, set.https);
    r.httpEntries = road("http", host, 80, set.http);
    // A scheme without a proxy of its own goes direct by the setting as a whole.
    r.httpsFrom = set.httpsName.empty() ? set.where : set.httpsName;
    r.httpFrom = set.httpName.empty() ? set.where : set.httpName;
    const bool env = set.origin == platform::ProxyOrigin::Environment;
    if (env && !set.https.empty() && GoesDirect(r.entries)) r.httpsFrom = "no_proxy";
    if (env && !set.http.empty() && GoesDirect(r.httpEntries)) r.httpFrom = "no_proxy";
    r.othersDirect = std::all_of(std::begin(kControlNames), std::end(kControlNames), [&](std::string_view name) {
        return GoesDirect(road("https", std::string(name), 443, set.https));
    });
}

platform::PacHost HostFor(const ProxyServices& s) {
    return {[&sockets = s.sockets](const std::string& name, Clock::time_point by) {
                return ResolveBy(sockets, {name}, by).front();
            },
            [&sockets = s.sockets] { return sockets.InterfaceAddresses(); }};
}

// An auto-config file: fetched, then FindProxyForURL asked for the domain's
// https and http URLs and for the control names'.
void RunAutoConfig(ProxyRecord& r, const std::string& host, const ProxyServices& s, Clock::time_point deadline,
                   std::string* kept) {
    const auto script = FetchPac(r.settings.pacUrl, s, deadline);
    if (!script) {
        r.error = PacError::Unreachable;  // automatic detection that finds no file found nothing (FindBrowserProxy)
        return;
    }
    if (kept) *kept = *script;
    std::vector<platform::PacCall> calls{{"https://" + host + "/", host}, {"http://" + host + "/", host}};
    for (const auto name : kControlNames) calls.push_back({"https://" + std::string(name) + "/", std::string(name)});
    const auto outcome = platform::RunPac(*script, calls, std::min(deadline, Clock::now() + kPacRunWait), HostFor(s));
    r.error = ErrorOf(outcome.fault);
    if (r.error != PacError::None || outcome.results.size() != calls.size()) {
        r.error = r.error == PacError::None ? PacError::Answer : r.error;
        return;
    }
    std::vector<std::vector<ProxyEntry>> roads;
    for (const auto& result : outcome.results) {
        auto entries = proxy::ParsePacResult(result);
        if (!entries) {
            r.error = PacError::Answer;
            return;
        }
        roads.push_back(std::move(*entries));
    }
    r.entries = roads[0];
    r.httpEntries = roads[1];
    r.othersDirect = GoesDirect(roads[2]) && GoesDirect(roads[3]);
}

}  // namespace

std::vector<std::vector<Address>> ResolveBy(platform::Sockets& sockets, const std::vector<std::string>& names,
                                            Clock::time_point deadline) {
    // What the lookups share with the caller, who may be gone when they end.
    struct Lookups {
        std::mutex mutex;
        std::condition_variable ended;
        std::vector<std::vector<Address>> addresses;
        std::size_t left = 0;
    };
    const auto lookups = std::make_shared<Lookups>();
    lookups->addresses.resize(names.size());
    if (Clock::now() >= deadline) return std::move(lookups->addresses);
    std::unique_lock lock(lookups->mutex);
    for (std::size_t i = 0; i < names.size(); ++i) {
        try {
            std::thread([lookups, &sockets, name = names[i], i] {
                std::vector<Address> found;
                try {
                    found = sockets.GetAddrInfo(name).value_or(std::vector<Address>{});
                } catch (const std::exception&) {
                }
                std::lock_guard done(lookups->mutex);
                lookups->addresses[i] = std::move(found);
                --lookups->left;
                lookups->ended.notify_all();
            }).detach();
            ++lookups->left;
        } catch (const std::exception&) {  // no thread, or no memory for one: that name is not resolved
        }
    }
    lookups->ended.wait_until(lock, deadline, [&] { return lookups->left == 0; });
    return lookups->addresses;  // a copy: a late lookup still writes into the shared one
}

std::vector<std::optional<Address>> ProxyAddresses(const std::vector<ProxyEntry>& proxies, platform::Sockets& sockets,
                                                   Clock::time_point deadline) {
    std::vector<std::string> names;
    for (const auto& p : proxies)
        if (!Address::Parse(p.host)) names.push_back(p.host);
    const auto found = ResolveBy(sockets, names, deadline);
    std::vector<std::optional<Address>> addresses;
    std::size_t next = 0;
    for (const auto& p : proxies) {
        auto literal = Address::Parse(p.host);
        if (!literal && !found[next].empty()) literal = found[next].front();
        next += !Address::Parse(p.host);
        addresses.push_back(literal);
    }
    return addresses;
}

ProxyEntry RoadOf(const std::optional<ProxyRecord>& proxy, const std::string& script, const std::string& url,
                  const ProxyServices& services, Clock::time_point deadline) {
    const auto target = proxy::TargetOf(url);
    if (!proxy || !target || !proxy->checked) return {};
    const auto& set = proxy->settings;
    if (set.mode == Mode::Manual) {
        if (proxy::BypassRules(set.bypass, set.bypassSyntax).Matches(target->scheme, target->host, target->port)) return {};
        return proxy::ParseProxy(target->scheme == "https" ? set.https : set.http).value_or(ProxyEntry{});
    }
    if (script.empty() || proxy->error != PacError::None) return {};
    const auto outcome =
        platform::RunPac(script, {{url, target->host}}, std::min(deadline, Clock::now() + kPacRunWait), HostFor(services));
    if (outcome.fault != platform::PacFault::None || outcome.results.size() != 1) return {};
    const auto entries = proxy::ParsePacResult(outcome.results.front());
    return entries && !entries->empty() ? entries->front() : ProxyEntry{};
}

std::optional<ProxyRecord> FindBrowserProxy(const std::string& host, const ProxyServices& services, bool run,
                                            Clock::time_point deadline, std::string* script) {
    ProxyRecord r;
    r.settings = services.reader.Read(deadline, run);
    const auto& set = r.settings;
    if (set.mode == Mode::Direct || (set.mode == Mode::AutoDetect && set.pacUrl.empty())) return std::nullopt;
    const bool environment = set.origin == platform::ProxyOrigin::Environment;
    switch (set.mode) {
        case Mode::Manual: r.source = environment ? ProxySource::Variable : ProxySource::System; break;
        case Mode::AutoConfig: r.source = ProxySource::AutoConfig; break;
        default: r.source = ProxySource::Wpad; break;
    }
    if (set.mode != Mode::Manual) r.pacUrl = proxy::WithoutCredentials(set.pacUrl);
    r.checked = run;
    if (!run) return r;
    if (set.mode == Mode::Manual)
        ReadManual(r, host);
    else
        RunAutoConfig(r, host, services, deadline, script);
    // WPAD's file not there is automatic detection that found none, as the
    // browser takes it: it goes direct.
    if (r.source == ProxySource::Wpad && r.error == PacError::Unreachable) return std::nullopt;
    return r;
}

}  // namespace tarnwell
