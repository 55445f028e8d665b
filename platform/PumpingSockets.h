#pragma once
#include "platform/Serve.h"
#include "platform/Sockets.h"

#include <algorithm>

namespace tarnwell::platform {

// The sockets of a window program: each call still blocks its caller, the
// check on the user-interface thread, but a wait of more than a moment
// serves the window meanwhile. A wait for datagrams is cut into slices with
// a serving between them; the resolver, which cannot be cut, runs on a
// worker thread while the window is served. Any other call goes straight to
// `inner`, which must outlive the process's last resolver call.
class PumpingSockets : public Sockets {
public:
    PumpingSockets(Sockets& inner, Serve serve) : inner_(inner), serve_(std::move(serve)) {}

    int Start() override { return inner_.Start(); }
    void End() override { inner_.End(); }
    std::optional<std::vector<Address>> GetAddrInfo(const std::string& name) override {
        return RunServed(serve_, [&inner = inner_, name] { return inner.GetAddrInfo(name); });
    }
    std::vector<Address> InterfaceAddresses() override { return inner_.InterfaceAddresses(); }
    SocketHandle Socket(Address::Family family) override { return inner_.Socket(family); }
    int Connect(SocketHandle s, const Address& address, std::uint16_t port) override {
        return inner_.Connect(s, address, port);
    }
    int Send(SocketHandle s, const std::uint8_t* data, int length) override { return inner_.Send(s, data, length); }

    // A -1 that came before its slice ran out is a failed receive (a refused
    // port), given at once; one at the slice's end is a wait that passed, and
    // the wait goes on to its own end. Timers may end a wait up to one tick
    // of the Windows clock (15.6 ms) early.
    int Receive(SocketHandle s, std::uint8_t* buffer, int capacity, std::chrono::milliseconds wait) override {
        using Clock = std::chrono::steady_clock;
        constexpr std::chrono::milliseconds kTimerSlack{16};
        const auto deadline = Clock::now() + wait;
        for (;;) {
            const auto left = std::chrono::ceil<std::chrono::milliseconds>(deadline - Clock::now());
            const auto slice = std::clamp(left, std::chrono::milliseconds{0}, kServeSlice);
            const auto sliceEnd = Clock::now() + slice;
            const int received = inner_.Receive(s, buffer, capacity, slice);
            if (received != -1 || left <= kServeSlice || Clock::now() + kTimerSlack < sliceEnd) return received;
            serve_();
        }
    }
    void Close(SocketHandle s) override { inner_.Close(s); }

private:
    Sockets& inner_;
    Serve serve_;
};

}  // namespace tarnwell::platform
