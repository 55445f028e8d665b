#pragma once
#include "platform/Sockets.h"

namespace tarnwell::platform {

// BSD sockets and the C library's resolver. Start and End have nothing to
// do here; they answer as a started library would.
class PosixSockets : public Sockets {
public:
    int Start() override { return 0; }
    void End() override {}
    std::optional<std::vector<Ipv4>> GetHostByName(const std::string& name) override;
    std::int32_t InetAddr(const std::string& text) override;
    SocketHandle Socket() override;
    int Connect(SocketHandle s, const Ipv4& address, std::uint16_t port) override;
    int Send(SocketHandle s, const std::uint8_t* data, int length) override;
    int Receive(SocketHandle s, std::uint8_t* buffer, int capacity,
                std::chrono::milliseconds wait) override;
    void Close(SocketHandle s) override;
};

}  // namespace tarnwell::platform
