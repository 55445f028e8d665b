// The Windows proof and witness posts, each call one loop on its caller's thread, against loopback peers: every
// probe and post ends by its deadline whatever the peer does, each probe is heard of once, the caller is served.
#include "platform/win32/Services.h"

#include <gtest/gtest.h>

#include <atomic>
#include <thread>

namespace tarnwell::platform {
namespace {

using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;
using R = ProofReason;

enum class Peer { Silent, Refused, Talker };  // never answers; bound, not listening; speaks HTTP, not TLS

// A peer on 127.0.0.1 and its port; a talker answers each connection with an HTTP error until it goes.
struct Listener {
    explicit Listener(Peer peer) : s(socket(AF_INET, SOCK_STREAM, IPPROTO_TCP)) {
        sockaddr_in at{};
        at.sin_family = AF_INET, at.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        int size = sizeof at;
        bind(s, reinterpret_cast<sockaddr*>(&at), size), getsockname(s, reinterpret_cast<sockaddr*>(&at), &size);
        port = ntohs(at.sin_port);
        if (peer != Peer::Refused) listen(s, SOMAXCONN);
        if (peer == Peer::Talker) talker = std::thread([this] {
            for (fd_set r; !stop; FD_ZERO(&r)) {
                timeval t{0, 20000};
                FD_SET(s, &r);
                if (select(0, &r, nullptr, nullptr, &t) != 1) continue;
                accepted.push_back(accept(s, nullptr, nullptr));
                send(accepted.back(), "HTTP/1.1 400 No\r\n\r\n", 19, 0);
            }
        });
    }
    ~Listener() {
        stop = true;
        if (talker.joinable()) talker.join();
        for (SOCKET c : accepted) closesocket(c);
        closesocket(s);
    }
    SOCKET s;
    std::uint16_t port = 0;
    std::atomic<bool> stop = false;
    std::thread talker;
    std::vector<SOCKET> accepted;
};

struct Row {
    const char* label;
    Peer peer;
    std::size_t count;  // probes, and posts
    std::chrono::milliseconds wait;
    Proof probe;                   // each probe's, those past FD_SETSIZE lacking resources
    std::optional<HttpsEnd> post;  // each post's, where Windows and Wine end them alike
};

// The longest wait between two servings, from the call's start to its end.
Clock::duration LongestGap(const std::vector<Clock::time_point>& served) {
    Clock::duration longest{};
    for (std::size_t i = 1; i < served.size(); ++i) longest = std::max(longest, served[i] - served[i - 1]);
    return longest;
}

TEST(WinLoop, EveryProbeAndPostEndsByItsDeadline) {
    const Row rows[] = {
        {"silent", Peer::Silent, 3, 600ms, Unknown(R::Timeout), HttpsEnd::Timeout},
        {"refused (Windows tries again for a while)", Peer::Refused, 2, 2500ms, Unknown(R::Refused), HttpsEnd::Failed},
        {"no TLS", Peer::Talker, 2, 2000ms, Unknown(R::NotTls), std::nullopt},
        {"40 silent at once", Peer::Silent, 40, 600ms, Unknown(R::Timeout), HttpsEnd::Timeout},
        {"one past the sets' room", Peer::Refused, FD_SETSIZE + 1, 2500ms, Unknown(R::Refused), std::nullopt},
    };
    NativeServices native;
    for (const Row& row : rows) {
        SCOPED_TRACE(row.label);
        const Listener peer(row.peer);
        std::vector<Clock::time_point> served{Clock::now()};
        const Serve serve = [&] { served.push_back(Clock::now()); };
        std::vector<std::vector<Proof>> heard(row.count);
        auto deadline = Clock::now() + row.wait;
        const auto proofs = native.tls.ProbeAll(std::vector(row.count, *Address::Parse("127.0.0.1")), "loop.test",
                                                deadline, serve, [&](std::size_t i, const Proof& p) { heard[i].push_back(p); },
                                                peer.port);
        served.push_back(Clock::now());
        EXPECT_LE(served.back() - deadline, 500ms);  // its grace, and a moment
        EXPECT_LE(LongestGap(served), kServeSlice + 150ms);
        for (std::size_t i = 0; i < row.count && i < proofs.size(); ++i) {
            EXPECT_EQ(proofs[i], i < FD_SETSIZE ? row.probe : Unknown(R::Resources)) << i;
            EXPECT_EQ(heard[i], std::vector{proofs[i]}) << i;
        }
        if (!row.post) continue;
        const std::string url = "https://127.0.0.1:" + std::to_string(peer.port) + "/dns-query";
        served = {Clock::now()}, deadline = served[0] + row.wait;
        const auto replies = native.http.PostAll(std::vector(row.count, HttpsPost{url, "a/b", "q", 512}), deadline, serve);
        served.push_back(Clock::now());
        EXPECT_LE(served.back() - deadline, 300ms);
        EXPECT_LE(LongestGap(served), kServeSlice + 150ms);
        EXPECT_EQ(replies.size(), row.count);
        for (const auto& reply : replies) EXPECT_EQ(reply.end, *row.post);
    }
}

}  // namespace
}  // namespace tarnwell::platform
