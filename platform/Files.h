#pragma once
#include <cstddef>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace tarnwell::platform {

// How the platform's resolver splits a line of the hosts file into fields.
struct HostsSyntax {
    std::string_view blanks;   // the octets between fields
    bool nulEndsLine = false;  // a NUL octet ends the line's text
};
// glibc (nss_files): fields apart by isspace() in the C locale, and a line
// read as a C string, so that a NUL ends it.
inline constexpr HostsSyntax kGlibcHosts{" \t\v\f\r", true};
// The Windows DNS client: fields apart by blanks and tabs.
inline constexpr HostsSyntax kWindowsHosts{" \t", false};

// Files the programs read: the hosts file and the settings files.
class Files {
public:
    virtual ~Files() = default;
    // The full path of the hosts file the system resolver reads, given the
    // directory the registry names for it (empty when it could not be read).
    virtual std::string HostsPath(const std::string& directory) = 0;
    // The file's bytes, or nothing when it cannot be read (missing, a
    // directory, no permission) or is larger than `maxBytes`.
    virtual std::optional<std::string> Read(const std::string& path, std::size_t maxBytes) = 0;
    // How the system resolver reads the hosts file's lines.
    virtual HostsSyntax Syntax() const = 0;
    // The settings files, in the order they are read: a later one
    // overrides an earlier. Any of them may be missing.
    virtual std::vector<std::string> SettingsPaths() const = 0;
};

}  // namespace tarnwell::platform
