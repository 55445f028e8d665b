#pragma once
#include "platform/Sockets.h"

namespace tarnwell::platform {

// Windows Sockets, version 1.0 requested at start.
class WinSockets : public Sockets {
public:
    int Start() override;
    void End() override;
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
