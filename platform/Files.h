#pragma once
#include <cstddef>
#include <optional>
#include <string>

namespace tarnwell::platform {

// Files the check reads: the hosts file only.
class Files {
public:
    virtual ~Files() = default;
    // The full path of the hosts file the system resolver reads, given the
    // directory the registry names for it (empty when it could not be read).
    virtual std::string HostsPath(const std::string& directory) = 0;
    // The file's bytes, or nothing when it cannot be read (missing, a
    // directory, no permission) or is larger than `maxBytes`.
    virtual std::optional<std::string> Read(const std::string& path, std::size_t maxBytes) = 0;
};

}  // namespace tarnwell::platform
