#pragma once
// A UDP server on 127.0.0.1 in its own thread that answers each query with
// a script of datagrams, each sent from a socket of the script's choosing:
// the server's own, another port on 127.0.0.1, or the address 127.0.0.2
// (on another port or on the server's own port number). All sockets are
// made up front, so the server opens no descriptor while it runs.
#include <arpa/inet.h>
#include <dirent.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cstdint>
#include <functional>
#include <stdexcept>
#include <thread>
#include <vector>

namespace tarnwell::testing {

// Descriptors open in this process, to show that nothing is left open.
inline int OpenDescriptors() {
    int n = 0;
    if (DIR* d = ::opendir("/proc/self/fd")) {
        while (::readdir(d)) ++n;
        ::closedir(d);
    }
    return n;
}

class ScriptedServer {
public:
    using Bytes = std::vector<std::uint8_t>;
    enum class From { Server, OtherPort, OtherAddress, OtherAddressSamePort };
    struct Datagram {
        Bytes bytes;
        From from = From::Server;
        std::chrono::microseconds pauseBefore{0};
    };
    using Script = std::function<std::vector<Datagram>(const Bytes& query)>;

    explicit ScriptedServer(Script script) : script_(std::move(script)) {
        server_ = Bound(INADDR_LOOPBACK, 0);
        sockaddr_in a{};
        socklen_t len = sizeof a;
        ::getsockname(server_, reinterpret_cast<sockaddr*>(&a), &len);
        port_ = ntohs(a.sin_port);
        otherPort_ = Bound(INADDR_LOOPBACK, 0);
        otherAddress_ = Bound(INADDR_LOOPBACK + 1, 0);
        otherAddressSamePort_ = Bound(INADDR_LOOPBACK + 1, port_);
        thread_ = std::thread([this] { Serve(); });
    }
    ~ScriptedServer() {
        stop_ = true;
        thread_.join();
        for (int fd : {server_, otherPort_, otherAddress_, otherAddressSamePort_}) ::close(fd);
    }
    ScriptedServer(const ScriptedServer&) = delete;
    ScriptedServer& operator=(const ScriptedServer&) = delete;

    std::uint16_t Port() const { return port_; }
    int Queries() const { return queries_; }
    int Sent() const { return sent_; }

private:
    static int Bound(std::uint32_t address, std::uint16_t port) {
        const int fd = ::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
        sockaddr_in a{};
        a.sin_family = AF_INET;
        a.sin_addr.s_addr = htonl(address);
        a.sin_port = htons(port);
        if (fd < 0 || ::bind(fd, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0)
            throw std::runtime_error("cannot bind a loopback test socket");
        return fd;
    }

    void Serve() {
        Bytes buffer(65536);
        while (!stop_) {
            pollfd p{server_, POLLIN, 0};
            if (::poll(&p, 1, 20) <= 0) continue;
            sockaddr_in from{};
            socklen_t len = sizeof from;
            const ssize_t n = ::recvfrom(server_, buffer.data(), buffer.size(), 0,
                                         reinterpret_cast<sockaddr*>(&from), &len);
            if (n < 0) continue;
            ++queries_;
            for (const auto& d : script_(Bytes(buffer.begin(), buffer.begin() + n))) {
                if (stop_) break;
                if (d.pauseBefore.count() > 0) std::this_thread::sleep_for(d.pauseBefore);
                const int fd = d.from == From::Server         ? server_
                               : d.from == From::OtherPort    ? otherPort_
                               : d.from == From::OtherAddress ? otherAddress_
                                                              : otherAddressSamePort_;
                if (::sendto(fd, d.bytes.data(), d.bytes.size(), 0, reinterpret_cast<sockaddr*>(&from), len) >= 0)
                    ++sent_;
            }
        }
    }

    Script script_;
    int server_ = -1, otherPort_ = -1, otherAddress_ = -1, otherAddressSamePort_ = -1;
    std::uint16_t port_ = 0;
    std::atomic<bool> stop_{false};
    std::atomic<int> queries_{0}, sent_{0};
    std::thread thread_;
};

}  // namespace tarnwell::testing
