// The Linux proxy settings as Chromium finds them: the environment, the
// desktop XDG_CURRENT_DESKTOP names, kioslaverc, and GNOME's settings through
// GIO's keyfile backend, in a process a row (GIO reads its environment once).
#include "platform/posix/LinuxProxy.h"
#include "tests/Rows.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <map>
#include <sstream>

namespace tarnwell {
namespace {

using platform::ProxyDesktop;
using platform::ProxySettings;
using Mode = ProxySettings::Mode;
using Env = std::map<std::string, std::string>;
constexpr auto kDesktop = platform::ProxyOrigin::Desktop;

std::string Text(const ProxySettings& s) {
    std::ostringstream o;  // mode, origin, bypass syntax, then the strings
    o << static_cast<int>(s.mode) << static_cast<int>(s.origin) << static_cast<int>(s.bypassSyntax);
    for (const auto* text : {&s.where, &s.https, &s.httpsName, &s.http, &s.httpName, &s.bypass, &s.pacUrl, &s.pacName})
        o << " '" << *text << "'";
    return o.str();
}

std::string Read(const Env& env, bool detect = true) {
    platform::LinuxProxySettings reader([env](const char* name) -> std::optional<std::string> {
        const auto it = env.find(name);
        return it == env.end() ? std::nullopt : std::optional(it->second);
    });
    return Text(reader.Read(std::chrono::steady_clock::now() + std::chrono::seconds(5), detect));
}

ProxySettings Manual(std::string where, std::string https, std::string httpsName, std::string http = "",
                     std::string httpName = "", std::string bypass = "") {
    return {Mode::Manual, {}, where, https, httpsName, http, httpName, bypass, {}, "", ""};
}
ProxySettings Both(std::string where, std::string proxy) { return Manual(where, proxy, where, proxy, where); }
ProxySettings Pac(Mode mode, std::string url, std::string name) { return {mode, {}, name, "", "", "", "", "", {}, url, name}; }
ProxySettings Kde(ProxySettings s) { return s.origin = kDesktop, s; }
ProxySettings Gnome(ProxySettings s) {
    s.origin = kDesktop, s.where = "org.gnome.system.proxy", s.bypassSyntax = ProxySettings::BypassSyntax::Wildcard;
    return s;
}

std::string FreshDir() {
    std::string dir = testing::TempDir() + "tarnwell-proxy-XXXXXX";
    return ::mkdtemp(dir.data()) ? dir : throw std::runtime_error("mkdtemp");
}
void Write(const std::string& path, const std::string& text) {
    std::filesystem::create_directories(std::filesystem::path(path).parent_path());
    std::ofstream(path, std::ios::binary) << text;
}

struct EnvRow { const char* name; Env env; bool detect; ProxySettings want; };
const EnvRow kEnvRows[] = {
    {"nothing", {}, true, {}},
    {"auto_proxy first", {{"auto_proxy", "http://p/p.pac"}, {"all_proxy", "a:1"}}, true, Pac(Mode::AutoConfig, "http://p/p.pac", "auto_proxy")},
    {"auto_proxy empty", {{"auto_proxy", ""}}, true, Pac(Mode::AutoDetect, "http://wpad/wpad.dat", "auto_proxy")},
    {"auto_proxy empty, no detection", {{"auto_proxy", ""}}, false, Pac(Mode::AutoDetect, "", "auto_proxy")},
    {"all_proxy over the schemes", {{"all_proxy", "a:1"}, {"https_proxy", "s:2"}}, true, Both("all_proxy", "a:1")},
    {"each scheme", {{"https_proxy", "s:2"}, {"http_proxy", "h:3"}}, true, Manual("https_proxy", "s:2", "https_proxy", "h:3", "http_proxy")},
    {"http alone: https direct", {{"http_proxy", "h:3"}}, true, Manual("http_proxy", "", "", "h:3", "http_proxy")},
    {"uppercase only", {{"HTTPS_PROXY", "s:2"}}, true, Manual("HTTPS_PROXY", "s:2", "HTTPS_PROXY")},
    {"lowercase wins", {{"https_proxy", "s:2"}, {"HTTPS_PROXY", "u:9"}}, true, Manual("https_proxy", "s:2", "https_proxy")},
    {"lowercase empty hides uppercase", {{"https_proxy", ""}, {"HTTPS_PROXY", "u:9"}}, true, {}},
    {"NO_PROXY", {{"http_proxy", "h:3"}, {"NO_PROXY", ".c"}}, true, Manual("http_proxy", "", "", "h:3", "http_proxy", ".c")},
    {"SOCKS_SERVER", {{"SOCKS_SERVER", "k:1080"}}, true, Both("SOCKS_SERVER", "socks5://k:1080")},
    {"SOCKS_VERSION 4", {{"socks_server", "socks5://k:1"}, {"SOCKS_VERSION", "4"}}, true, Both("socks_server", "socks4://k:1")},
};
class LinuxProxyEnvironment : public testing::TestWithParam<EnvRow> {};
TEST_P(LinuxProxyEnvironment, Reads) { EXPECT_EQ(Read(GetParam().env, GetParam().detect), Text(GetParam().want)); }
TARNWELL_ROWS(LinuxProxyEnvironment, kEnvRows);

TEST(LinuxProxyDesktop, FirstKnownNameOfTheList) {
    constexpr auto G = ProxyDesktop::Gnome, K = ProxyDesktop::Kde, O = ProxyDesktop::Other;
    const std::pair<std::optional<std::string_view>, ProxyDesktop> rows[] = {
        {"GNOME", G}, {"ubuntu:GNOME", G}, {"Unity", G}, {"X-Cinnamon", G}, {"Pantheon", G}, {"Budgie:GNOME", G},
        {"Deepin", G}, {"UKUI", G}, {"KDE", K}, {"sway:KDE", K}, {"XFCE:GNOME", O}, {"LXQt:KDE", O}, {"gnome", O},
        {"", O}, {std::nullopt, O}};
    for (const auto& [value, want] : rows) EXPECT_EQ(platform::ProxyDesktopOf(value), want) << value.value_or("unset");
}

// A row's file is kioslaverc's text (none when empty) in $XDG_CONFIG_HOME;
// `want.where` gets its path. The environment names all_proxy=a:1.
struct KdeRow { const char* name; std::string file; ProxySettings want; };
const std::string kGroup = "[Proxy Settings]\n";
const KdeRow kKdeRows[] = {
    {"direct", kGroup + "ProxyType=0\n", Kde({})},
    {"manual", kGroup + "ProxyType=1\nhttpsProxy=http://s 3128\nhttpProxy=h:80\nNoProxyFor=.a,.b\n",
     Kde(Manual("", "http://s:3128", "httpsProxy", "h:80", "httpProxy", ".a,.b"))},
    {"PAC", kGroup + "ProxyType=2\nProxy Config Script=http://p/p.pac\n", Kde(Pac(Mode::AutoConfig, "http://p/p.pac", "Proxy Config Script"))},
    {"WPAD", kGroup + "Proxy Config Script=http://p/p.pac\nProxyType=3\n", Kde(Pac(Mode::AutoDetect, "http://wpad/wpad.dat", ""))},
    {"from variables", kGroup + "ProxyType=4\nhttpsProxy=ALL_PROXY\nNoProxyFor=a\n", Kde(Manual("", "a:1", "all_proxy", "", "", ".c"))},
    {"SOCKS serves all", kGroup + "ProxyType=1\nsocksProxy=socks://k 1080\n",
     Kde(Manual("", "socks5://k:1080", "socksProxy", "socks5://k:1080", "socksProxy"))},
    {"reversed list: direct", kGroup + "ProxyType=1\nhttpProxy=h:1\nReversedException=true\n", Kde({})},
    {"flagged key, CRLF", "[Proxy Settings]\r\nProxyType=1\r\nhttpsProxy[$e]= s:1 \r\n", Kde(Manual("", "s:1", "httpsProxy"))},
    {"other group: environment", "[Other]\nProxyType=1\nhttpProxy=h:1\n", Both("all_proxy", "a:1")},
    {"manual, no proxy: environment", kGroup + "ProxyType=1\nhttpProxy=\n", Both("all_proxy", "a:1")},
    {"no file: environment", "", Both("all_proxy", "a:1")},
    {"over 64 KiB: environment", std::string(70000, '#') + "\n" + kGroup + "ProxyType=0\n", Both("all_proxy", "a:1")},
};
class LinuxProxyKde : public testing::TestWithParam<KdeRow> {};
TEST_P(LinuxProxyKde, Reads) {
    const std::string dir = FreshDir(), path = dir + "/kioslaverc";
    auto want = GetParam().want;
    if (!GetParam().file.empty()) Write(path, GetParam().file);
    if (want.origin == kDesktop) want.where = path;
    EXPECT_EQ(Read({{"XDG_CURRENT_DESKTOP", "KDE"}, {"XDG_CONFIG_HOME", dir}, {"all_proxy", "a:1"}, {"a", ".c"}}), Text(want));
    std::filesystem::remove_all(dir);
}
TARNWELL_ROWS(LinuxProxyKde, kKdeRows);

// A row's keyfile is GIO's keyfile backend's file: a group a path under
// /, "system/proxy/https" for org.gnome.system.proxy.https.
struct GnomeRow { const char* name; std::string keyfile; ProxySettings want; bool schemas = true; };
const std::string kProxy = "[system/proxy]\n", kLocal = "localhost,127.0.0.0/8,::1";
const std::string kHttps = "org.gnome.system.proxy.https", kHttp = "org.gnome.system.proxy.http";
const GnomeRow kGnomeRows[] = {
    {"none", kProxy + "mode='none'\n", Gnome({})},
    {"PAC file", kProxy + "mode='auto'\nautoconfig-url='/etc/p.pac'\n", Gnome(Pac(Mode::AutoConfig, "file:///etc/p.pac", "autoconfig-url"))},
    {"WPAD", kProxy + "mode='auto'\n", Gnome(Pac(Mode::AutoDetect, "http://wpad/wpad.dat", ""))},
    {"manual", kProxy + "mode='manual'\nignore-hosts=['*.a','b']\n[system/proxy/https]\nhost='s'\nport=3128\n[system/proxy/http]\nhost='h'\n",
     Gnome(Manual("", "s:3128", kHttps, "h:8080", kHttp, "*.a,b"))},
    {"use-same-proxy ignored, port 0", kProxy + "mode='manual'\nuse-same-proxy=true\n[system/proxy/http]\nhost='h'\nport=0\n",
     Gnome(Manual("", "", "", "h", kHttp, kLocal))},
    {"SOCKS for the scheme without", kProxy + "mode='manual'\n[system/proxy/http]\nhost='h'\n[system/proxy/socks]\nhost='k'\n",
     Gnome(Manual("", "socks5://k", "org.gnome.system.proxy.socks", "h:8080", kHttp, kLocal))},
    {"manual, no proxy: environment", kProxy + "mode='manual'\n", Both("all_proxy", "a:1")},
    {"no schema: environment", kProxy + "mode='none'\n", Both("all_proxy", "a:1"), false},
};
class LinuxProxyGnome : public testing::TestWithParam<GnomeRow> {};
// Runs in the child: GIO is first used there, with its environment set.
void ReadGnome(const GnomeRow& row) {
    const std::string dir = FreshDir();
    Write(dir + "/glib-2.0/settings/keyfile", row.keyfile);
    ::setenv("GSETTINGS_BACKEND", "keyfile", 1);
    for (const char* name : {"XDG_CONFIG_HOME", "XDG_DATA_DIRS", "XDG_DATA_HOME"})  // the data: no schemas there
        if (name[4] == 'C' || !row.schemas) ::setenv(name, dir.c_str(), 1);
    if (!row.schemas) ::unsetenv("GSETTINGS_SCHEMA_DIR");
    const std::string got = Read({{"XDG_CURRENT_DESKTOP", "ubuntu:GNOME"}, {"all_proxy", "a:1"}});
    std::filesystem::remove_all(dir);
    std::cerr << got;
    std::_Exit(0);
}
TEST_P(LinuxProxyGnome, Reads) {
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    EXPECT_EXIT(ReadGnome(GetParam()), testing::ExitedWithCode(0), testing::Eq(Text(GetParam().want)));
}
TARNWELL_ROWS(LinuxProxyGnome, kGnomeRows);

}  // namespace
}  // namespace tarnwell
