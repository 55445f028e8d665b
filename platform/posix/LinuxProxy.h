#pragma once
#include "platform/Proxy.h"

#include <functional>
#include <optional>
#include <string>
#include <string_view>

namespace tarnwell::platform {

// One environment variable's value, or nothing when it is unset.
using EnvironmentGetter = std::function<std::optional<std::string>(const char* name)>;

// The process's own environment, through getenv.
std::optional<std::string> ProcessEnvironment(const char* name);

// Whose proxy settings a Linux desktop's browsers read.
enum class ProxyDesktop {
    Gnome,  // GSettings' org.gnome.system.proxy
    Kde,    // kioslaverc
    Other,  // none: the environment's variables
};

// The desktop as Chromium tells it from XDG_CURRENT_DESKTOP (the first name
// of its ':'-separated list that Chromium knows): GNOME, Unity, X-Cinnamon,
// Pantheon, Budgie, Deepin and UKUI keep their proxy in GNOME's settings;
// KDE in kioslaverc; XFCE, LXQt, any other and none have none of their own.
ProxyDesktop ProxyDesktopOf(std::optional<std::string_view> xdgCurrentDesktop);

// The proxy settings as Chromium on Linux finds them: the desktop's, where
// it has them and they can be read, else the environment's variables
// (auto_proxy, all_proxy, https_proxy, http_proxy, SOCKS_SERVER, no_proxy).
// GNOME's come through GIO (GSettings); its reads need no main loop.
class LinuxProxySettings : public ProxySettingsReader {
public:
    explicit LinuxProxySettings(EnvironmentGetter getenv = ProcessEnvironment) : getenv_(std::move(getenv)) {}
    // Nothing here waits on the network: `deadline` is never near. With
    // `detect`, automatic detection gives WPAD's URL as Chromium on Linux
    // looks it up (by DNS, at "http://wpad/wpad.dat").
    ProxySettings Read(std::chrono::steady_clock::time_point deadline, bool detect) override;

private:
    EnvironmentGetter getenv_;
};

}  // namespace tarnwell::platform
