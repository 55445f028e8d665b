// The Internet Options as WinProxySettings reads them, through a stand-in for WinHTTP that hands out each string
// with GlobalAlloc and checks that each comes back once through GlobalFree.
#include "platform/win32/WinProxy.h"

#include <gtest/gtest.h>

#include <atomic>
#include <set>
#include <thread>

using namespace tarnwell::platform;
using namespace std::chrono_literals;
using Mode = ProxySettings::Mode;
using Clock = std::chrono::steady_clock;

namespace {

struct Options {
    bool autoDetect = false;
    const wchar_t *proxy = nullptr, *bypass = nullptr, *pac = nullptr, *wpad = nullptr;  // wpad: what WPAD finds
    std::chrono::milliseconds detecting{};
};

struct Fake : Options {  // shared with the reader's threads, which may outlive a test
    std::mutex mutex;
    std::set<HGLOBAL> given;  // handed out, not yet freed
    std::atomic<int> configs = 0, detections = 0;

    LPWSTR Give(const wchar_t* text) {
        if (!text) return nullptr;
        auto copy = static_cast<LPWSTR>(GlobalAlloc(GMEM_FIXED, (wcslen(text) + 1) * sizeof(wchar_t)));
        std::lock_guard lock(mutex);
        return given.insert(wcscpy(copy, text)), copy;
    }
    static WinProxyCalls Calls(const std::shared_ptr<Fake>& f) {
        const auto config = [f](WINHTTP_CURRENT_USER_IE_PROXY_CONFIG* c) {
            *c = {f->autoDetect, f->Give(f->pac), f->Give(f->proxy), f->Give(f->bypass)};
            return ++f->configs, TRUE;
        };
        const auto detect = [f](DWORD flags, LPWSTR* url) -> BOOL {
            ++f->detections, std::this_thread::sleep_for(f->detecting), *url = f->Give(f->wpad);
            return f->wpad && flags == (WINHTTP_AUTO_DETECT_TYPE_DHCP | WINHTTP_AUTO_DETECT_TYPE_DNS_A);
        };
        const auto free = [f](HGLOBAL h) {
            std::lock_guard lock(f->mutex);
            EXPECT_EQ(f->given.erase(h), 1u) << "freed twice, or not WinHTTP's";
            return GlobalFree(h);
        };
        return {config, detect, free};
    }
};

ProxySettings Expected(Mode mode, const char* https, const char* http = "", const char* bypass = "") {
    const auto name = [](const char* proxy) { return *proxy ? "ProxyServer" : ""; };
    const bool pac = mode == Mode::AutoConfig || mode == Mode::AutoDetect;
    return {mode, ProxyOrigin::Desktop, "HKCU\\Software\\Microsoft\\Windows\\CurrentVersion\\Internet Settings",
            pac ? "" : https, pac ? "" : name(https), http, name(http), bypass, ProxySettings::BypassSyntax::Wildcard,
            pac ? https : "", mode == Mode::AutoConfig ? "AutoConfigURL" : ""};
}

}  // namespace

TEST(WinProxySettings, ReadsTheInternetOptionsOnceAndFreesWinHttpsStrings) {
    const wchar_t *pac = L"http://192.0.2.7/proxy.pac", *wpad = L"http://wpad.corp.test/wpad.dat";
    const char *pac8 = "http://192.0.2.7/proxy.pac", *wpad8 = "http://wpad.corp.test/wpad.dat";
    const struct {
        Options options;
        bool detect;
        ProxySettings want;
    } rows[] = {
        {{}, true, Expected(Mode::Direct, "")},
        {{.proxy = L"p:3128"}, true, Expected(Mode::Manual, "p:3128", "p:3128")},
        {{.proxy = L"http=h:80;https=s:443 ftp=f:21"}, true, Expected(Mode::Manual, "s:443", "h:80")},
        {{.proxy = L"socks=k:1080"}, true, Expected(Mode::Manual, "socks4://k:1080", "socks4://k:1080")},
        // SOCKS for the scheme without its own entry; a plain entry after others is skipped, as Chromium does
        {{.proxy = L"HTTP=h:80; p:3128 socks=k:1080"}, true, Expected(Mode::Manual, "socks4://k:1080", "h:80")},
        {{.proxy = L"ftp=f:21"}, true, Expected(Mode::Direct, "")},
        {{.proxy = L"ftp=f:21;https=s:443"}, true, Expected(Mode::Manual, "s:443")},
        {{.proxy = L"прокси.test:3128", .bypass = L"*.corp.test;<local>"}, true,
         Expected(Mode::Manual, "прокси.test:3128", "прокси.test:3128", "*.corp.test;<local>")},
        {{.proxy = L"p:3128", .bypass = L"<>", .pac = pac}, true, Expected(Mode::AutoConfig, pac8)},
        {{true, L"p:3128", nullptr, pac, wpad}, true, Expected(Mode::AutoDetect, wpad8)},
        {{true}, true, Expected(Mode::Direct, "")},  // WPAD finds nothing
        {{true, L"p:3128", nullptr, pac}, true, Expected(Mode::AutoConfig, pac8)},
        {{true, nullptr, nullptr, nullptr, wpad}, false, Expected(Mode::AutoDetect, "")},
    };
    for (const auto& row : rows) {
        const auto fake = std::make_shared<Fake>();
        static_cast<Options&>(*fake) = row.options;
        WinProxySettings reader(Fake::Calls(fake));
        const auto n = &row - rows;
        EXPECT_EQ(reader.Read(Clock::now() + 5s, row.detect), row.want) << "row " << n;
        EXPECT_EQ(reader.Read(Clock::now() + 5s, row.detect), row.want) << "row " << n << ", read again";
        EXPECT_TRUE(fake->configs == 1 && fake->detections == (row.options.autoDetect && row.detect)) << n;
        EXPECT_TRUE(fake->given.empty()) << "row " << n << ": a string WinHTTP gave not freed";
    }
}

TEST(WinProxySettings, DetectionThatHangsHoldsNoReadPastItsDeadline) {
    const auto fake = std::make_shared<Fake>();
    static_cast<Options&>(*fake) = {true, nullptr, nullptr, L"http://192.0.2.7/proxy.pac", L"http://wpad/w.dat", 60s};
    WinProxySettings reader(Fake::Calls(fake));
    for (int i = 0; i < 2; ++i) {  // the second waits for the same detection, still under way
        const auto start = Clock::now();
        EXPECT_EQ(reader.Read(start + 300ms, true), Expected(Mode::AutoConfig, "http://192.0.2.7/proxy.pac"));
        EXPECT_LT(Clock::now() - start, 800ms) << "read " << i;
    }
    EXPECT_EQ(fake->detections, 1);  // one call, still under way
}
