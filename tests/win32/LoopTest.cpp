// The Windows proof and witness posts, each call one loop on its caller's thread, against loopback peers: every
// probe and post ends by its deadline whatever the peer does, each probe is heard of once, the caller is served;
// probes, GETs and posts through a fake proxy ask it as browsers do.
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

// A proxy on 127.0.0.1 for one connection: a moment before each of its replies it takes what came; after them it
// closes, or stays silent until it goes.
struct FakeProxy : Listener {
    FakeProxy(std::vector<std::string> replies, bool close) : Listener(Peer::Silent) {
        talker = std::thread([this, replies, close] {
            if (!Take(INVALID_SOCKET, 5s)) return;
            for (const auto& reply : replies) Take(accepted[0], 150ms), send(accepted[0], reply.data(), int(reply.size()), 0);
            Take(accepted[0], close ? 150ms : 60s), closesocket(accepted[0]), accepted.clear();
        });
    }
    bool Take(SOCKET c, Clock::duration wait) {  // from c what comes within `wait`; or (none) a connection
        for (const auto end = Clock::now() + wait; !stop && Clock::now() < end;) {
            fd_set r;
            FD_ZERO(&r);
            FD_SET(c == INVALID_SOCKET ? s : c, &r);
            timeval t{0, 20000};
            char b[4096];
            if (select(0, &r, nullptr, nullptr, &t) != 1) continue;
            if (c == INVALID_SOCKET) return accepted.push_back(accept(s, nullptr, nullptr)), true;
            const int n = recv(c, b, sizeof b, 0);
            if (n <= 0) return false;
            asked.append(b, n);
        }
        return false;
    }
    std::string asked;  // all that came: read once the talker has ended
};

const auto kConnect = [](const std::string& to) {
    return "CONNECT " + to + " HTTP/1.1\r\nHost: " + to + "\r\nProxy-Connection: keep-alive\r\nUser-Agent: Mozilla/5.0\r\n\r\n";
};
using B = std::string;  // bytes

TEST(WinLoop, ProbesThroughAProxyMakeTheTunnelFirst) {
    using S = ProxyScheme;
    const B site = "HTTP/1.1 400 No\r\n\r\n", hello = "\x16", ok = "HTTP/1.1 200 Connection established\r\n\r\n";
    const B socks5 = B("\5\1\0\5\1\0\3\x09", 8) + "loop.test\x01\xBB", socks4 = B("\4\1\1\xBB\0\0\0\1\0", 9) + "loop.test" + '\0';
    const struct {
        const char* label;
        S scheme;
        std::vector<B> replies;
        bool close;
        Proof want;
        B asked;  // the start of all the proxy was sent: "\x16" the site's ClientHello through the tunnel
    } rows[] = {
        {"200, then no TLS", S::Http, {ok, site}, false, Unknown(R::NotTls), kConnect("loop.test:443") + hello},
        {"200 and no TLS at once", S::Http, {ok + site}, false, Unknown(R::NotTls), kConnect("loop.test:443") + hello},
        {"200 split", S::Http, {"HTTP/1.1 20", "0 OK\r\nVia: x\r\n", "\r", "\n" + site}, false, Unknown(R::NotTls), ""},
        {"407", S::Http, {"HTTP/1.1 407 Auth\r\nProxy-Authenticate: Basic\r\n\r\n"}, false, Unknown(R::ProxyAuth), ""},
        {"502", S::Http, {"HTTP/1.0 502 Bad gateway\r\n\r\n"}, false, Unknown(R::Refused), ""},
        {"no status line", S::Http, {"SSH-2.0-x\r\n\r\n"}, false, Unknown(R::Refused), ""},
        {"a head past 16 KiB", S::Http, {"HTTP/1.1 200 OK\r\nX: " + B(17000, 'x')}, false, Unknown(R::Refused), ""},
        {"silent", S::Http, {}, false, Unknown(R::Timeout), kConnect("loop.test:443")},
        {"closed before the blank line", S::Http, {"HTTP/1.1 200 OK\r\n"}, true, Unknown(R::Aborted), ""},
        {"SOCKS5", S::Socks5, {B("\5\0", 2), B("\5\0\0\1\x7f\0\0\1\1\xBB", 10), site}, false, Unknown(R::NotTls), socks5 + hello},
        {"SOCKS5, a name bound, split", S::Socks5, {B("\5\0\5\0", 4), B("\0\3\4host\1", 8), B("\xBB", 1) + site}, false, Unknown(R::NotTls), ""},
        {"SOCKS5 asks for authentication", S::Socks5, {"\5\xFF"}, false, Unknown(R::ProxyAuth), ""},
        {"SOCKS5 refuses", S::Socks5, {B("\5\0", 2), B("\5\5\0\1", 4)}, false, Unknown(R::Refused), ""},
        {"SOCKS5 closes", S::Socks5, {B("\5\0", 2)}, true, Unknown(R::Aborted), ""},
        {"SOCKS4a", S::Socks4, {B("\0\x5A\0\0\0\0\0\0", 8), site}, false, Unknown(R::NotTls), socks4 + hello},
        {"SOCKS4a refuses", S::Socks4, {B("\0\x5B\0\0\0\0\0\0", 8)}, false, Unknown(R::Refused), ""},
        {"HTTPS proxy without TLS", S::Https, {site}, false, Unknown(R::Refused), "\x16"},
        {"HTTPS proxy silent", S::Https, {}, false, Unknown(R::Timeout), "\x16"},
    };
    NativeServices native;
    for (const auto& row : rows) {
        SCOPED_TRACE(row.label);
        FakeProxy proxy(row.replies, row.close);
        const ProbeRoute route{*Address::Parse("127.0.0.1"), proxy.port, {row.scheme, "127.0.0.1", proxy.port}};
        const auto deadline = Clock::now() + 1500ms;
        EXPECT_EQ(native.tls.ProbeRoutes({route}, "loop.test", deadline, {}, {}), std::vector{row.want});
        EXPECT_LE(Clock::now() - deadline, 300ms);
        proxy.stop = true, proxy.talker.join();
        EXPECT_EQ(proxy.asked.substr(0, row.asked.size()), row.asked);
    }
}

TEST(WinLoop, RequestsGoThroughTheirHttpProxyAndNeverThroughSocks) {
    const ProxyEntry none{}, socks{ProxyScheme::Socks5, "127.0.0.1", 1080}, https{ProxyScheme::Https, "127.0.0.1", 1};
    const B found = "HTTP/1.1 200 OK\r\nContent-Length: 2\r\n\r\nok", denied = "HTTP/1.1 502 No\r\n\r\n";
    const struct {
        const char* url;  // "%" for the fake's port; a post when https
        std::optional<ProxyEntry> via;  // none: the fake
        B reply;
        B asked;
        GetEnd get;
    } rows[] = {
        {"http://issuer.test/ca.crt", std::nullopt, found, "GET http://issuer.test", GetEnd::Reply},  // Wine adds ":80"
        {"http://127.0.0.1:%/ca.crt", none, found, "GET /ca.crt HTTP/1.1\r\n", GetEnd::Reply},
        {"http://issuer.test/ca.crt", socks, found, "", GetEnd::Refused},
        {"http://issuer.test/ca.crt", https, found, "", GetEnd::Refused},
        {"https://issuer.test/ca.crt", std::nullopt, denied, kConnect("issuer.test:443").substr(0, 35), GetEnd::Refused},
        {"https://doh.test/dns-query", std::nullopt, denied, kConnect("doh.test:443").substr(0, 32), {}},
        {"https://doh.test/dns-query", socks, denied, "", {}},
    };
    NativeServices native;
    for (const auto& row : rows) {
        SCOPED_TRACE(row.url);
        FakeProxy fake({row.reply}, true);
        B url = row.url;
        if (const auto at = url.find('%'); at != B::npos) url.replace(at, 1, std::to_string(fake.port));
        const ProxyEntry via = row.via.value_or(ProxyEntry{ProxyScheme::Http, "127.0.0.1", fake.port});
        const auto deadline = Clock::now() + 1500ms;
        if (url.starts_with("https://doh")) {
            const auto replies = native.http.PostAll({{url, "a/b", "q", 512, via}}, deadline, {});
            EXPECT_EQ(replies.at(0).end, HttpsEnd::Failed);
        } else {
            const auto got = native.http.Get(url, 512, deadline, via);
            EXPECT_TRUE(got.end == row.get && got.body == (row.get == GetEnd::Reply ? "ok" : "")) << int(got.end);
        }
        fake.stop = true, fake.talker.join();
        EXPECT_EQ(fake.asked.substr(0, row.asked.size()), row.asked);
        EXPECT_EQ(fake.asked.empty(), row.asked.empty());  // nothing sent another way
    }
}

}  // namespace
}  // namespace tarnwell::platform
