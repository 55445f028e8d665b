#include "platform/posix/PosixSockets.h"

#include <arpa/inet.h>
#include <cerrno>
#include <cstring>
#include <netdb.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

namespace tarnwell::platform {

std::optional<std::vector<Ipv4>> PosixSockets::GetHostByName(const std::string& name) {
    // The road a browser takes: getaddrinfo honours the hosts file and the
    // name service switch. IPv4 only, one entry per address (stream sockets
    // only, so each address is not listed once per socket type), and no
    // AI_ADDRCONFIG, which would hide every IPv4 address on a machine whose
    // only IPv4 address is a loopback one.
    if (name.find('\0') != std::string::npos) return std::nullopt;
    addrinfo hints{};
    hints.ai_family = AF_INET;
    hints.ai_socktype = SOCK_STREAM;
    addrinfo* list = nullptr;
    if (getaddrinfo(name.c_str(), nullptr, &hints, &list) != 0 || !list) return std::nullopt;
    std::vector<Ipv4> out;
    for (const addrinfo* ai = list; ai; ai = ai->ai_next) {
        if (ai->ai_family != AF_INET || !ai->ai_addr) continue;
        const auto* sin = reinterpret_cast<const sockaddr_in*>(ai->ai_addr);
        Ipv4 address;
        std::memcpy(address.data(), &sin->sin_addr, address.size());
        out.push_back(address);
    }
    freeaddrinfo(list);
    return out;
}

std::int32_t PosixSockets::InetAddr(const std::string& text) {
    if (text.find('\0') != std::string::npos) return -1;
    const in_addr_t value = inet_addr(text.c_str());
    std::int32_t out;
    static_assert(sizeof out == sizeof value);
    std::memcpy(&out, &value, sizeof out);
    return out;
}

SocketHandle PosixSockets::Socket() {
    const int fd = ::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    return fd < 0 ? kNoSocket : fd;
}

int PosixSockets::Connect(SocketHandle s, const Ipv4& address, std::uint16_t port) {
    sockaddr_in to{};
    to.sin_family = AF_INET;
    to.sin_port = htons(port);
    std::memcpy(&to.sin_addr, address.data(), address.size());
    return ::connect(static_cast<int>(s), reinterpret_cast<const sockaddr*>(&to), sizeof to) == 0 ? 0 : -1;
}

int PosixSockets::Send(SocketHandle s, const std::uint8_t* data, int length) {
    const ssize_t n = ::send(static_cast<int>(s), data, static_cast<std::size_t>(length), MSG_NOSIGNAL);
    return n < 0 ? -1 : static_cast<int>(n);
}

int PosixSockets::Receive(SocketHandle s, std::uint8_t* buffer, int capacity,
                          std::chrono::milliseconds wait) {
    pollfd p{static_cast<int>(s), POLLIN, 0};
    int ready;
    do {
        ready = ::poll(&p, 1, static_cast<int>(wait.count()));
    } while (ready < 0 && errno == EINTR);
    if (ready <= 0) return -1;
    // MSG_TRUNC gives the datagram's real length, so that one longer than
    // the buffer is told apart, as Windows Sockets tells it with WSAEMSGSIZE.
    const ssize_t n = ::recv(static_cast<int>(s), buffer, static_cast<std::size_t>(capacity), MSG_TRUNC);
    if (n < 0) return -1;
    return n > capacity ? kDatagramTooLong : static_cast<int>(n);
}

void PosixSockets::Close(SocketHandle s) {
    if (s != kNoSocket) ::close(static_cast<int>(s));
}

}  // namespace tarnwell::platform
