// The Internet Options as WinProxySettings reads them, through a stand-in for WinHTTP that hands out each string
// with GlobalAlloc and checks that each comes back once through GlobalFree.
#include "platform/win32/WinProxy.h"

#include <gtest/gtest.h>

#include <atomic>
#include <set>
#include <thread>

using namespace tarnwell::platform;
using Mode = ProxySettings::Mode;
using Clock = std::chrono::steady_clock;
using namespace std::chrono_literals;

namespace {

struct Fake {  // shared with the reader's threads, which may outlive a test
    bool autoDetect = false;
    const wchar_t *proxy = nullptr, *bypass = nullptr, *pac = nullptr, *wpad = nullptr;
    std::chrono::milliseconds detecting{0};
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
            ++f->detections, std::this_thread::sleep_for(f->detecting);
            *url = f->Give(f->wpad);
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

ProxySettings Expected(Mode mode, const char* https, const char* http, const char* bypass, const char* pac) {
    const auto name = [](const char* proxy) { return *proxy ? "ProxyServer" : ""; };
    return {mode, ProxyOrigin::Desktop, "HKCU\\Software\\Microsoft\\Windows\\CurrentVersion\\Internet Settings", https,
            name(https), http, name(http), bypass, ProxySettings::BypassSyntax::Wildcard, pac,
            mode == Mode::AutoConfig ? "AutoConfigURL" : ""};
}

}  // namespace

TEST(WinProxySettings, ReadsTheInternetOptionsOnceAndFreesWinHttpsStrings) {
    const wchar_t *pac = L"http://192.0.2.7/proxy.pac", *wpad = L"http://wpad.corp.test/wpad.dat";
    struct Row {
        bool autoDetect, detect;
        const wchar_t *proxy, *bypass, *pac, *wpad;
        ProxySettings want;
    } rows[] = {
        {false, true, nullptr, nullptr, nullptr, nullptr, Expected(Mode::Direct, "", "", "", "")},
        {false, true, L"p:3128", nullptr, nullptr, nullptr, Expected(Mode::Manual, "p:3128", "p:3128", "", "")},
        {false, true, L"http=h:80;https=s:443 ftp=f:21", nullptr, nullptr, nullptr,
         Expected(Mode::Manual, "s:443", "h:80", "", "")},
        {false, true, L"socks=k:1080", nullptr, nullptr, nullptr,
         Expected(Mode::Manual, "socks4://k:1080", "socks4://k:1080", "", "")},
        {false, true, L"HTTP=h:80; socks=k:1080", nullptr, nullptr, nullptr,
         Expected(Mode::Manual, "socks4://k:1080", "h:80", "", "")},  // SOCKS for the scheme left out
        {false, true, L"ftp=f:21", nullptr, nullptr, nullptr, Expected(Mode::Direct, "", "", "", "")},
        {false, true, L"прокси.test:3128", L"*.corp.test;<local>", nullptr, nullptr,
         Expected(Mode::Manual, "прокси.test:3128", "прокси.test:3128", "*.corp.test;<local>", "")},
        {false, true, L"p:3128", L"<local>", pac, nullptr, Expected(Mode::AutoConfig, "", "", "", "http://192.0.2.7/proxy.pac")},
        {true, true, L"p:3128", nullptr, pac, wpad, Expected(Mode::AutoDetect, "", "", "", "http://wpad.corp.test/wpad.dat")},
        {true, true, nullptr, nullptr, nullptr, nullptr, Expected(Mode::Direct, "", "", "", "")},
        {true, true, L"p:3128", nullptr, pac, nullptr, Expected(Mode::AutoConfig, "", "", "", "http://192.0.2.7/proxy.pac")},
        {true, false, nullptr, nullptr, nullptr, wpad, Expected(Mode::AutoDetect, "", "", "", "")},
    };
    for (const Row& row : rows) {
        auto fake = std::make_shared<Fake>();
        fake->autoDetect = row.autoDetect, fake->proxy = row.proxy, fake->bypass = row.bypass, fake->pac = row.pac;
        fake->wpad = row.wpad;
        WinProxySettings reader(Fake::Calls(fake));
        const int n = static_cast<int>(&row - rows);
        EXPECT_EQ(reader.Read(Clock::now() + 5s, row.detect), row.want) << "row " << n;
        EXPECT_EQ(reader.Read(Clock::now() + 5s, row.detect), row.want) << "row " << n << ", read again";
        EXPECT_EQ(fake->configs, 1) << n;
        EXPECT_EQ(fake->detections, row.autoDetect && row.detect ? 1 : 0) << n;
        EXPECT_TRUE(fake->given.empty()) << "row " << n << ": a string WinHTTP gave not freed";
    }
}

TEST(WinProxySettings, DetectionThatHangsEndsNoReadPastItsDeadline) {
    auto fake = std::make_shared<Fake>();
    fake->autoDetect = true, fake->pac = L"http://192.0.2.7/proxy.pac", fake->wpad = L"http://wpad/wpad.dat";
    fake->detecting = 60s;
    WinProxySettings reader(Fake::Calls(fake));
    for (int i = 0; i < 2; ++i) {  // the second waits for the same detection, still under way
        const auto start = Clock::now();
        EXPECT_EQ(reader.Read(start + 300ms, true), Expected(Mode::AutoConfig, "", "", "", "http://192.0.2.7/proxy.pac"));
        EXPECT_LT(Clock::now() - start, 800ms) << "read " << i;
    }
    EXPECT_EQ(fake->detections, 1);  // one call, still under way
}
