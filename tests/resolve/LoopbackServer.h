#pragma once
// A UDP server on 127.0.0.1 in its own thread, for tests of the query over
// real sockets. It answers each datagram with what `handler` returns, sent
// from the server's own socket, or from other loopback sockets when asked.
#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <cstdint>
#include <functional>
#include <thread>
#include <vector>

namespace tarnwell::testing {

using Bytes = std::vector<std::uint8_t>;

struct Outgoing {
    Bytes bytes;
    bool fromStranger = false;  // sent from another socket (another port)
};

class LoopbackServer {
public:
    using Handler = std::function<std::vector<Outgoing>(const Bytes& query)>;

    explicit LoopbackServer(Handler handler) : handler_(std::move(handler)) {
        fd_ = ::socket(AF_INET, SOCK_DGRAM, 0);
        sockaddr_in a{};
        a.sin_family = AF_INET;
        a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        ::bind(fd_, reinterpret_cast<sockaddr*>(&a), sizeof a);
        socklen_t len = sizeof a;
        ::getsockname(fd_, reinterpret_cast<sockaddr*>(&a), &len);
        port_ = ntohs(a.sin_port);
        thread_ = std::thread([this] { Serve(); });
    }
    ~LoopbackServer() {
        stop_ = true;
        thread_.join();
        ::close(fd_);
    }
    std::uint16_t Port() const { return port_; }
    int Queries() const { return queries_; }

private:
    void Serve() {
        while (!stop_) {
            pollfd p{fd_, POLLIN, 0};
            if (::poll(&p, 1, 20) <= 0) continue;
            Bytes buffer(4096);
            sockaddr_in from{};
            socklen_t len = sizeof from;
            const ssize_t n = ::recvfrom(fd_, buffer.data(), buffer.size(), 0,
                                         reinterpret_cast<sockaddr*>(&from), &len);
            if (n < 0) continue;
            buffer.resize(static_cast<std::size_t>(n));
            ++queries_;
            const int stranger = ::socket(AF_INET, SOCK_DGRAM, 0);
            for (const auto& out : handler_(buffer))
                ::sendto(out.fromStranger ? stranger : fd_, out.bytes.data(), out.bytes.size(), 0,
                         reinterpret_cast<sockaddr*>(&from), len);
            ::close(stranger);
        }
    }

    Handler handler_;
    int fd_ = -1;
    std::uint16_t port_ = 0;
    std::atomic<bool> stop_{false};
    std::atomic<int> queries_{0};
    std::thread thread_;
};

}  // namespace tarnwell::testing
