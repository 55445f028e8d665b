#include "platform/win32/WinSockets.h"

#include <winsock2.h>

#include <cstring>

namespace tarnwell::platform {

int WinSockets::Start() {
    WSADATA data;
    return WSAStartup(MAKEWORD(1, 0), &data);
}

void WinSockets::End() { WSACleanup(); }

std::optional<std::vector<Ipv4>> WinSockets::GetHostByName(const std::string& name) {
    if (name.find('\0') != std::string::npos) return std::nullopt;
    const hostent* host = gethostbyname(name.c_str());
    if (!host || host->h_addrtype != AF_INET || !host->h_addr_list) return std::nullopt;
    std::vector<Ipv4> out;
    for (char** entry = host->h_addr_list; *entry; ++entry) {
        Ipv4 address;
        std::memcpy(address.data(), *entry, address.size());
        out.push_back(address);
    }
    return out;
}

std::int32_t WinSockets::InetAddr(const std::string& text) {
    if (text.find('\0') != std::string::npos) return -1;
    const unsigned long value = inet_addr(text.c_str());
    std::int32_t out;
    std::uint32_t value32 = static_cast<std::uint32_t>(value);
    std::memcpy(&out, &value32, sizeof out);
    return out;
}

SocketHandle WinSockets::Socket() {
    const SOCKET s = socket(AF_INET, SOCK_DGRAM, 0);
    return s == INVALID_SOCKET ? kNoSocket : static_cast<SocketHandle>(s);
}

int WinSockets::Connect(SocketHandle s, const Ipv4& address, std::uint16_t port) {
    sockaddr_in to{};
    to.sin_family = AF_INET;
    to.sin_port = htons(port);
    std::memcpy(&to.sin_addr, address.data(), address.size());
    return connect(static_cast<SOCKET>(s), reinterpret_cast<const sockaddr*>(&to), sizeof to) == 0 ? 0 : -1;
}

int WinSockets::Send(SocketHandle s, const std::uint8_t* data, int length) {
    const int n = send(static_cast<SOCKET>(s), reinterpret_cast<const char*>(data), length, 0);
    return n == SOCKET_ERROR ? -1 : n;
}

int WinSockets::Receive(SocketHandle s, std::uint8_t* buffer, int capacity,
                        std::chrono::milliseconds wait) {
    fd_set readable;
    FD_ZERO(&readable);
    FD_SET(static_cast<SOCKET>(s), &readable);
    timeval limit{static_cast<long>(wait.count() / 1000), static_cast<long>((wait.count() % 1000) * 1000)};
    if (select(0, &readable, nullptr, nullptr, &limit) <= 0) return -1;
    // A datagram longer than the buffer fails with WSAEMSGSIZE; the rest of
    // it is discarded, as for any datagram socket.
    const int n = recv(static_cast<SOCKET>(s), reinterpret_cast<char*>(buffer), capacity, 0);
    if (n != SOCKET_ERROR) return n;
    return WSAGetLastError() == WSAEMSGSIZE ? kDatagramTooLong : -1;
}

void WinSockets::Close(SocketHandle s) {
    if (s != kNoSocket) closesocket(static_cast<SOCKET>(s));
}

}  // namespace tarnwell::platform
