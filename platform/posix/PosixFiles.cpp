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

namespace {

ReadFault FaultOf(int error) {
    switch (error) {
        case ENOENT:
        case ENOTDIR: return ReadFault::Missing;
        case EACCES:
        case EPERM: return ReadFault::Denied;
        case EISDIR: return ReadFault::Directory;
        default: return ReadFault::Error;
    }
}

}  // namespace

std::optional<ReadFault> PosixFiles::ReadChunks(const std::string& path, const Take& take) {
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NOCTTY | O_NONBLOCK);
    if (fd < 0) return FaultOf(errno);
    std::optional<ReadFault> fault;
    struct stat st{};
    // A regular file only: a FIFO or a device could block or never end.
    if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
        fault = S_ISDIR(st.st_mode) ? ReadFault::Directory : ReadFault::Error;
    } else {
        std::string chunk(kChunkBytes, '\0');
        for (;;) {
            const ssize_t n = ::read(fd, chunk.data(), chunk.size());
            if (n < 0 && errno == EINTR) continue;
            if (n < 0) fault = FaultOf(errno);
            if (n <= 0 || !take(std::string_view(chunk.data(), static_cast<std::size_t>(n)))) break;
        }
    }
    ::close(fd);
    return fault;
}

}  // namespace tarnwell::platform
