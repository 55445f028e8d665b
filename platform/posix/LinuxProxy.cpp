#include "platform/posix/LinuxProxy.h"

#include "platform/posix/PosixFiles.h"

#include <gio/gio.h>

#include <charconv>
#include <cstdlib>
#include <memory>
#include <variant>

namespace tarnwell::platform {

std::optional<std::string> ProcessEnvironment(const char* name) {
    const char* value = std::getenv(name);
    if (!value) return std::nullopt;
    return std::string(value);
}

namespace {

using Mode = ProxySettings::Mode;

// Where Chromium on Linux looks WPAD up: the host "wpad" in the DNS search
// domains.
constexpr const char* kWpadUrl = "http://wpad/wpad.dat";

std::string_view Trimmed(std::string_view s) {
    constexpr std::string_view blanks = " \t\n\v\f\r";
    const auto start = s.find_first_not_of(blanks);
    if (start == std::string_view::npos) return {};
    return s.substr(start, s.find_last_not_of(blanks) - start + 1);
}

bool StartsWithNoCase(std::string_view s, std::string_view prefix) {
    if (s.size() < prefix.size()) return false;
    for (std::size_t i = 0; i < prefix.size(); ++i)
        if ((s[i] | 0x20) != prefix[i]) return false;  // `prefix` in lowercase letters and "://"
    return true;
}

struct Variable {
    std::string name;  // as found
    std::string value;
};

// A variable as Chromium's base::Environment reads it: the name as given,
// and when that is unset the same name in the other case ("https_proxy",
// then "HTTPS_PROXY"; "SOCKS_SERVER", then "socks_server"). A variable set
// to nothing is found, and ends the search.
std::optional<Variable> Lookup(const EnvironmentGetter& env, const std::string& name) {
    if (auto value = env(name.c_str())) return Variable{name, std::move(*value)};
    if (name.empty()) return std::nullopt;
    const bool lower = name[0] >= 'a' && name[0] <= 'z';
    if (!lower && !(name[0] >= 'A' && name[0] <= 'Z')) return std::nullopt;
    std::string other = name;
    for (char& c : other)
        if (lower && c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
        else if (!lower && c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
    if (auto value = env(other.c_str())) return Variable{other, std::move(*value)};
    return std::nullopt;
}

// A variable that names a proxy: set, and not to nothing.
std::optional<Variable> ProxyVariable(const EnvironmentGetter& env, const char* name) {
    auto found = Lookup(env, name);
    if (found && found->value.empty()) return std::nullopt;
    return found;
}

// A SOCKS proxy as Chromium writes one for its proxy list: any scheme given
// is dropped, and the version is 5 unless it is asked for 4 or the value
// says "socks4://".
std::string Socks(std::string value, bool version4) {
    version4 = version4 || StartsWithNoCase(value, "socks4://");
    if (const auto scheme = value.find("://"); scheme != std::string::npos) value.erase(0, scheme + 3);
    return (version4 ? "socks4://" : "socks5://") + value;
}

void SetBoth(ProxySettings& s, const std::string& proxy, const std::string& name) {
    s.mode = Mode::Manual;
    s.https = s.http = proxy;
    s.httpsName = s.httpName = s.where = name;
}

// Chromium's GetConfigFromEnv: auto_proxy, else all_proxy, else each
// scheme's own variable (a scheme without one goes direct: http_proxy is not
// taken for https), else SOCKS_SERVER; no_proxy matches host suffixes.
ProxySettings FromEnvironment(const EnvironmentGetter& env, bool detect) {
    ProxySettings s;
    if (auto bypass = Lookup(env, "no_proxy")) s.bypass = bypass->value;
    if (auto pac = Lookup(env, "auto_proxy")) {
        s.where = s.pacName = pac->name;
        s.mode = pac->value.empty() ? Mode::AutoDetect : Mode::AutoConfig;
        s.pacUrl = !pac->value.empty() ? pac->value : detect ? kWpadUrl : "";
        return s;
    }
    if (auto all = ProxyVariable(env, "all_proxy")) {
        SetBoth(s, all->value, all->name);
        return s;
    }
    auto https = ProxyVariable(env, "https_proxy");
    auto http = ProxyVariable(env, "http_proxy");
    if (https || http) {
        s.mode = Mode::Manual;
        if (https) s.https = https->value, s.httpsName = https->name;
        if (http) s.http = http->value, s.httpName = http->name;
        s.where = https ? https->name : http->name;
    } else if (auto socks = ProxyVariable(env, "SOCKS_SERVER")) {
        const auto version = Lookup(env, "SOCKS_VERSION");
        SetBoth(s, Socks(socks->value, version && version->value == "4"), socks->name);
    }
    return s;
}

// A desktop's proxy settings in the terms of Chromium's SettingGetter,
// which it reads alike for GNOME and KDE.
struct DesktopProxy {
    struct Proxy {
        std::string value;  // "host[:port]"; empty: none
        std::string name;
    };
    std::string where;
    std::string mode;  // "none", "auto", "manual"; anything else: not usable
    std::string pacUrl, pacName;
    Proxy https, http, socks;
    std::string bypass;
    ProxySettings::BypassSyntax bypassSyntax = ProxySettings::BypassSyntax::Wildcard;
    bool reversed = false;  // KDE: only the listed hosts take the proxy
};

// Chromium's GetConfigFromSettings; nothing when the settings are not
// usable and it turns to the environment instead.
std::optional<ProxySettings> FromDesktop(const DesktopProxy& d, bool detect) {
    ProxySettings s;
    s.origin = ProxyOrigin::Desktop;
    s.where = d.where;
    s.bypassSyntax = d.bypassSyntax;
    if (d.mode == "none") return s;
    if (d.mode == "auto") {
        if (d.pacUrl.empty()) {
            s.mode = Mode::AutoDetect;
            if (detect) s.pacUrl = kWpadUrl;
        } else {
            s.mode = Mode::AutoConfig;
            s.pacUrl = d.pacUrl[0] == '/' ? "file://" + d.pacUrl : d.pacUrl;  // a path: a local file
            s.pacName = d.pacName;
        }
        return s;
    }
    if (d.mode != "manual") return std::nullopt;
    // The SOCKS proxy is the fallback of every scheme without a proxy of its
    // own (alone, it serves all); GNOME's use-same-proxy is ignored, as
    // Chromium does: GNOME's panel never clears it, and it defaults to true.
    DesktopProxy::Proxy socks;
    if (!d.socks.value.empty()) socks = {Socks(d.socks.value, false), d.socks.name};
    const auto& https = d.https.value.empty() ? socks : d.https;
    const auto& http = d.http.value.empty() ? socks : d.http;
    if (https.value.empty() && http.value.empty()) return std::nullopt;
    // KDE's reversed list sends only the hosts it names through the proxy;
    // the settings cannot say that, and all other hosts go direct: direct.
    if (d.reversed) return s;
    s.mode = Mode::Manual;
    s.https = https.value;
    s.httpsName = https.name;
    s.http = http.value;
    s.httpName = http.name;
    s.bypass = d.bypass;
    return s;
}

// ---- GNOME: GSettings through GIO ---------------------------------------

struct SchemaUnref {
    void operator()(GSettingsSchema* p) const { g_settings_schema_unref(p); }
};
struct ObjectUnref {
    void operator()(GSettings* p) const { g_object_unref(p); }
};
struct VariantUnref {
    void operator()(GVariant* p) const { g_variant_unref(p); }
};
using Variant = std::unique_ptr<GVariant, VariantUnref>;

// One schema's settings. A key the schema lacks or types otherwise (another
// version of the schemas) reads as empty: g_settings_get_value would abort.
class Group {
public:
    explicit Group(GSettingsSchema* schema)
        : schema_(schema), settings_(g_settings_new_full(schema, nullptr, nullptr)) {}

    std::string String(const char* key) const {
        const auto v = Value(key, G_VARIANT_TYPE_STRING);
        return v ? g_variant_get_string(v.get(), nullptr) : "";
    }
    // "host:port", or "host" when the port is 0 (Chromium adds none then).
    std::string HostPort() const {
        std::string host = String("host");
        const auto port = Value("port", G_VARIANT_TYPE_INT32);
        if (!host.empty() && port && g_variant_get_int32(port.get()) != 0)
            host.append(":").append(std::to_string(g_variant_get_int32(port.get())));
        return host;
    }
    std::string Joined(const char* key) const {
        std::string out;
        if (const auto v = Value(key, G_VARIANT_TYPE_STRING_ARRAY)) {
            const gchar** items = g_variant_get_strv(v.get(), nullptr);  // the strings stay the variant's
            for (const gchar** item = items; *item; ++item) out.append(out.empty() ? "" : ",").append(*item);
            g_free(items);
        }
        return out;
    }

private:
    Variant Value(const char* key, const GVariantType* type) const {
        if (!g_settings_schema_has_key(schema_.get(), key)) return nullptr;
        GSettingsSchemaKey* k = g_settings_schema_get_key(schema_.get(), key);
        const bool typed = g_variant_type_equal(g_settings_schema_key_get_value_type(k), type);
        g_settings_schema_key_unref(k);
        return typed ? Variant(g_settings_get_value(settings_.get(), key)) : nullptr;
    }

    std::unique_ptr<GSettingsSchema, SchemaUnref> schema_;
    std::unique_ptr<GSettings, ObjectUnref> settings_;
};

constexpr const char* kGnomeProxy = "org.gnome.system.proxy";

// Nothing when a schema is not installed (g_settings_new would abort).
std::optional<DesktopProxy> ReadGnome() {
    GSettingsSchemaSource* source = g_settings_schema_source_get_default();  // none without any schemas
    if (!source) return std::nullopt;
    const std::string ids[] = {kGnomeProxy, std::string(kGnomeProxy) + ".https",
                               std::string(kGnomeProxy) + ".http", std::string(kGnomeProxy) + ".socks"};
    std::vector<Group> groups;
    groups.reserve(std::size(ids));
    for (const auto& id : ids) {
        GSettingsSchema* schema = g_settings_schema_source_lookup(source, id.c_str(), TRUE);
        if (!schema) return std::nullopt;
        groups.emplace_back(schema);
    }
    DesktopProxy d;
    d.where = kGnomeProxy;
    d.mode = groups[0].String("mode");
    d.pacUrl = groups[0].String("autoconfig-url");
    d.pacName = "autoconfig-url";
    d.https = {groups[1].HostPort(), ids[1]};
    d.http = {groups[2].HostPort(), ids[2]};
    d.socks = {groups[3].HostPort(), ids[3]};
    d.bypass = groups[0].Joined("ignore-hosts");
    return d;
}

// ---- KDE: kioslaverc -----------------------------------------------------

std::optional<std::string> KioslavercPath(const EnvironmentGetter& env) {
    if (auto config = Lookup(env, "XDG_CONFIG_HOME"); config && config->value.starts_with('/'))
        return config->value + "/kioslaverc";
    if (auto home = Lookup(env, "HOME"); home && !home->value.empty()) return home->value + "/.config/kioslaverc";
    return std::nullopt;
}

// A proxy as KDE writes it, "http://host port" or "host:port": the first
// blank becomes ':'; "//:" and nothing name no proxy.
void KdeProxy(DesktopProxy::Proxy& proxy, const std::string& key, std::string value) {
    if (value.empty() || value.starts_with("//:")) return;
    if (const auto blank = value.find(' '); blank != std::string::npos) value[blank] = ':';
    proxy = {std::move(value), key};
}

int KdeNumber(std::string_view value) {
    int n = 0;
    const auto [end, error] = std::from_chars(value.data(), value.data() + value.size(), n);
    return error == std::errc() && end == value.data() + value.size() ? n : 0;
}

// The [Proxy Settings] group as Chromium's SettingGetterImplKDE reads it;
// nothing when the file cannot be read whole within 64 KiB.
std::optional<DesktopProxy> ReadKde(const EnvironmentGetter& env) {
    const auto path = KioslavercPath(env);
    if (!path) return std::nullopt;
    auto text = PosixFiles().Read(*path, kChunkBytes);
    if (!std::holds_alternative<std::string>(text)) return std::nullopt;
    DesktopProxy d;
    d.where = *path;
    d.pacName = "Proxy Config Script";
    d.bypassSyntax = ProxySettings::BypassSyntax::Suffix;
    bool indirect = false, noPac = false, inGroup = false;
    std::string_view rest = std::get<std::string>(text);
    while (!rest.empty()) {
        const auto end = rest.find('\n');
        std::string_view line = rest.substr(0, end);
        rest = end == std::string_view::npos ? std::string_view() : rest.substr(end + 1);
        if (line.ends_with('\r')) line.remove_suffix(1);
        if (line.starts_with('[')) {
            inGroup = line.starts_with("[Proxy Settings]");
            continue;
        }
        const auto equals = line.find('=');
        if (!inGroup || equals == std::string_view::npos) continue;
        std::string_view key = Trimmed(line.substr(0, equals));
        const std::string value(Trimmed(line.substr(equals + 1)));
        if (key.ends_with(']')) {  // a localized or flagged key, "httpProxy[$e]"
            const auto open = key.rfind('[');
            key = open == std::string_view::npos ? std::string_view() : Trimmed(key.substr(0, open));
        }
        if (key == "ProxyType") {
            const int type = KdeNumber(value);
            d.mode = type == 1 || type == 4 ? "manual" : type == 2 || type == 3 ? "auto" : "none";
            indirect = type == 4;  // the proxy keys name environment variables
            noPac = type == 3;     // WPAD
        } else if (key == "Proxy Config Script") {
            d.pacUrl = value;
        } else if (key == "httpsProxy") {
            KdeProxy(d.https, "httpsProxy", value);
        } else if (key == "httpProxy") {
            KdeProxy(d.http, "httpProxy", value);
        } else if (key == "socksProxy") {
            KdeProxy(d.socks, "socksProxy", value);
        } else if (key == "ReversedException") {
            d.reversed = value == "true" || KdeNumber(value) != 0;
        } else if (key == "NoProxyFor") {
            d.bypass = value;
        }
    }
    if (noPac) d.pacUrl.clear();
    if (indirect) {
        for (auto* proxy : {&d.https, &d.http, &d.socks}) {
            const auto found = proxy->value.empty() ? std::nullopt : Lookup(env, proxy->value);
            *proxy = found ? DesktopProxy::Proxy{found->value, found->name} : DesktopProxy::Proxy{};
        }
        // The list names its variable first, apart by ',' or ' '.
        const auto name = d.bypass.substr(0, d.bypass.find_first_of(", "));
        const auto found = name.empty() ? std::nullopt : Lookup(env, name);
        d.bypass = found ? found->value : "";
    }
    return d;
}

}  // namespace

ProxyDesktop ProxyDesktopOf(std::optional<std::string_view> xdgCurrentDesktop) {
    std::string_view rest = xdgCurrentDesktop.value_or("");
    while (!rest.empty()) {
        const auto colon = rest.find(':');
        const std::string_view name = Trimmed(rest.substr(0, colon));
        rest = colon == std::string_view::npos ? std::string_view() : rest.substr(colon + 1);
        for (const std::string_view gnome : {"GNOME", "Unity", "X-Cinnamon", "Pantheon", "Budgie", "Deepin", "UKUI"})
            if (name == gnome) return ProxyDesktop::Gnome;
        if (name == "KDE") return ProxyDesktop::Kde;
        if (name == "XFCE" || name == "LXQt") return ProxyDesktop::Other;
    }
    return ProxyDesktop::Other;
}

ProxySettings LinuxProxySettings::Read(std::chrono::steady_clock::time_point, bool detect) {
    const auto desktop = Lookup(getenv_, "XDG_CURRENT_DESKTOP");
    std::optional<DesktopProxy> settings;
    switch (ProxyDesktopOf(desktop ? std::optional<std::string_view>(desktop->value) : std::nullopt)) {
        case ProxyDesktop::Gnome: settings = ReadGnome(); break;
        case ProxyDesktop::Kde: settings = ReadKde(getenv_); break;
        case ProxyDesktop::Other: break;
    }
    if (settings)
        if (auto found = FromDesktop(*settings, detect)) return *found;
    return FromEnvironment(getenv_, detect);
}

}  // namespace tarnwell::platform
