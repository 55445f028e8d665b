#pragma once
#include "platform/Files.h"

namespace tarnwell::platform {

// Files through the C library. The hosts file is the one its resolver
// reads, whatever the directory (_PATH_HOSTS; inside `ip netns exec` the
// namespace's own is mounted over it).
class PosixFiles : public Files {
public:
    std::string HostsPath(const std::string& directory) override;
    std::optional<ReadFault> ReadChunks(const std::string& path, const Take& take) override;
    HostsSyntax Syntax() const override { return kGlibcHosts; }
    // /etc/tarnwell/tarnwell.conf, then the user's in $XDG_CONFIG_HOME
    // (~/.config when it is unset or not absolute: XDG Base Directory).
    std::vector<std::string> SettingsPaths() const override;
};

}  // namespace tarnwell::platform
