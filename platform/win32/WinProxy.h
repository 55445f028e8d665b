#pragma once
#include "platform/Proxy.h"

#include <windows.h>
#include <winhttp.h>

#include <functional>
#include <memory>

namespace tarnwell::platform {

// The WinHTTP calls the reader makes, and the GlobalFree that gives back
// what they return: the system's by default.
struct WinProxyCalls {
    std::function<BOOL(WINHTTP_CURRENT_USER_IE_PROXY_CONFIG*)> ieConfig = WinHttpGetIEProxyConfigForCurrentUser;
    std::function<BOOL(DWORD, LPWSTR*)> detect = WinHttpDetectAutoProxyConfigUrl;
    std::function<HGLOBAL(HGLOBAL)> free = GlobalFree;
};

// The user's Internet Options as WinINet's browsers read them (origin
// Desktop): automatic detection first (WPAD over DHCP and DNS), then the
// auto-config URL, then the proxy server. Each WinHTTP call runs once per
// reader on a thread of its own, which a Read waits for until its deadline
// only: a call still under way then (WPAD has no time-out of its own) is
// left to end by itself, and its result is kept for the Reads after.
class WinProxySettings : public ProxySettingsReader {
public:
    explicit WinProxySettings(WinProxyCalls calls = {});
    ProxySettings Read(std::chrono::steady_clock::time_point deadline, bool detect) override;

    struct Shared;

private:
    std::shared_ptr<Shared> shared_;
};

}  // namespace tarnwell::platform
