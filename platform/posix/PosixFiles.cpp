#include "platform/posix/PosixFiles.h"

#include <cerrno>
#include <cstdlib>

#include <fcntl.h>
#include <netdb.h>
#include <sys/stat.h>
#include <unistd.h>

namespace tarnwell::platform {

std::string PosixFiles::HostsPath(const std::string&) { return _PATH_HOSTS; }

std::vector<std::string> PosixFiles::SettingsPaths() const {
    std::vector<std::string> paths{"/etc/tarnwell/tarnwell.conf"};
    const char* config = std::getenv("XDG_CONFIG_HOME");
    const char* home = std::getenv("HOME");
    if (config && config[0] == '/')
        paths.push_back(std::string(config) + "/tarnwell/tarnwell.conf");
    else if (home && home[0] == '/')
        paths.push_back(std::string(home) + "/.config/tarnwell/tarnwell.conf");
    return paths;
}

std::optional<std::string> PosixFiles::Read(const std::string& path, std::size_t maxBytes) {
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NOCTTY | O_NONBLOCK);
    if (fd < 0) return std::nullopt;
    std::optional<std::string> out;
    struct stat st{};
    // A regular file only: a FIFO or a device could block or never end.
    if (::fstat(fd, &st) == 0 && S_ISREG(st.st_mode) && static_cast<std::size_t>(st.st_size) <= maxBytes) {
        std::string bytes;
        bytes.resize(static_cast<std::size_t>(st.st_size));
        std::size_t got = 0;
        ssize_t n = 1;
        while (got < bytes.size() && n > 0) {
            n = ::read(fd, bytes.data() + got, bytes.size() - got);
            if (n > 0) got += static_cast<std::size_t>(n);
            else if (n < 0 && errno == EINTR) n = 1;
        }
        // A read error gives nothing rather than the file's first part.
        if (n >= 0) {
            bytes.resize(got);
            out = std::move(bytes);
        }
    }
    ::close(fd);
    return out;
}

}  // namespace tarnwell::platform
