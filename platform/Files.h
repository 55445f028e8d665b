#pragma once
#include <cstddef>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <variant>
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

// Why a file could not be read whole.
enum class ReadFault {
    Missing,    // no such file (nor the directory it would be in)
    Denied,     // no permission
    Directory,  // the path names a directory
    TooLarge,   // larger than the reader takes
    Error       // anything else: not a regular file, a failing read
};

// The largest piece of a file handed over at once.
inline constexpr std::size_t kChunkBytes = 64 * 1024;

// Files the programs read: the hosts file and the settings files.
class Files {
public:
    virtual ~Files() = default;
    // The full path of the hosts file the system resolver reads, given the
    // directory the registry names for it (empty when it could not be read).
    virtual std::string HostsPath(const std::string& directory) = 0;
    // Hands a regular file's bytes to `take` in order, at most kChunkBytes
    // at a time, until the file ends or `take` returns false; nothing when
    // that went well, else why it did not (the pieces before a failing read
    // were handed over all the same).
    using Take = std::function<bool(std::string_view)>;
    virtual std::optional<ReadFault> ReadChunks(const std::string& path, const Take& take) = 0;
    // How the system resolver reads the hosts file's lines.
    virtual HostsSyntax Syntax() const = 0;
    // The settings files, in the order they are read: a later one
    // overrides an earlier. Any of them may be missing.
    virtual std::vector<std::string> SettingsPaths() const = 0;

    // A whole file of at most `maxBytes`, or why not.
    std::variant<std::string, ReadFault> Read(const std::string& path, std::size_t maxBytes) {
        std::string bytes;
        bool large = false;
        const auto fault = ReadChunks(path, [&](std::string_view chunk) {
            large = chunk.size() > maxBytes - bytes.size();
            if (!large) bytes.append(chunk);
            return !large;
        });
        if (fault || large) return fault.value_or(ReadFault::TooLarge);
        return bytes;
    }
};

}  // namespace tarnwell::platform
