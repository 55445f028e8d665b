#pragma once
#include "platform/Files.h"

namespace tarnwell::platform {

// Files through Win32. The hosts file is "hosts" in the directory the
// registry names, its environment variables (%SystemRoot%) expanded.
class WinFiles : public Files {
public:
    std::string HostsPath(const std::string& directory) override;
    std::optional<ReadFault> ReadChunks(const std::string& path, const Take& take) override;
    HostsSyntax Syntax() const override { return kWindowsHosts; }
    // %APPDATA%\Tarnwell\tarnwell.conf
    std::vector<std::string> SettingsPaths() const override;
};

}  // namespace tarnwell::platform
