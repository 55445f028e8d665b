// A broken resolver configuration, through the whole check procedure: the
// DNS server stage must end with "Error 002" and send nothing, whatever
// state /etc/resolv.conf is in.
#include "app/Fm.h"
#include "platform/posix/ResolvConf.h"
#include "tests/fakes/Fakes.h"

#include <gtest/gtest.h>

#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>

namespace tarnwell {
namespace {

namespace fs = std::filesystem;

struct Configured {
    fs::path dir;
    platform::ResolverPaths paths;
    explicit Configured(const std::string& name) {
        dir = fs::temp_directory_path() / ("tarnwell-resolv-fault-" + std::to_string(::getpid()) + "-" + name);
        fs::remove_all(dir);
        fs::create_directories(dir);
        paths = {(dir / "resolv.conf").string(), (dir / "upstream.conf").string(), (dir / "nm.conf").string()};
    }
    ~Configured() {
        ::chmod(paths.resolvConf.c_str(), 0644);
        fs::remove_all(dir);
    }
    void Write(const std::string& text) {
        std::ofstream(paths.resolvConf, std::ios::binary) << text;
    }
};

struct Outcome {
    CheckEnd end;
    std::vector<fakes::Shown> shown;
    std::size_t sent;
};

Outcome RunCheck(const platform::ResolverPaths& paths) {
    fakes::FakeView view;
    fakes::FakeSockets sockets;
    sockets.hosts["example.com"] = {{93, 184, 216, 34}};
    sockets.server = [](const std::vector<std::uint8_t>& q) {
        return std::vector<std::vector<std::uint8_t>>{fakes::ReplyTo(q, {fakes::ARecord({93, 184, 216, 34})})};
    };
    platform::ResolvConfNetworkParams params(paths);
    fakes::FakeShellFactory shells;
    fakes::RecordingMessageBox box;
    CheckState state;
    Fm fm(view, {sockets, params, shells, box}, state);
    view.combo.text = "example.com";
    fm.Cmd1_Click();
    return {fm.LastCheckEnd(), box.shown, sockets.sent.size()};
}

void ExpectNoServer(const Outcome& o) {
    EXPECT_EQ(o.end, CheckEnd::NoServer);
    ASSERT_EQ(o.shown.size(), 1u);
    EXPECT_EQ(o.shown[0].prompt, "DNS сервер не определен");
    EXPECT_EQ(o.shown[0].title, "Error 002");
    EXPECT_EQ(o.sent, 0u);
}

std::string Junk(std::size_t size) {
    std::string junk;
    std::uint32_t x = 2463534242u;  // xorshift: the same junk every run
    for (std::size_t i = 0; i < size; ++i) {
        x ^= x << 13, x ^= x >> 17, x ^= x << 5;
        junk.push_back(static_cast<char>(x));
    }
    return junk + "\nnameserver\nnameserver \nnameserver 999.1.1.1\nnameserver1.2.3.4\n nameserver 1.2.3.4\n" +
           std::string(100000, 'n') + "\n#nameserver 1.2.3.4\n;nameserver 1.2.3.4\nnameserver 1.2.3.4.5\n";
}

TEST(ResolvConfFaults, NoUsableServerEndsWithError002) {
    struct Row {
        const char* name;
        std::function<void(Configured&)> setUp;
    };
    const Row rows[] = {
        {"missing", [](Configured&) {}},
        {"empty", [](Configured& c) { c.Write(""); }},
        {"a directory in its place", [](Configured& c) { fs::create_directory(c.paths.resolvConf); }},
        {"full of junk", [](Configured& c) { c.Write(Junk(64 * 1024)); }},
        {"NUL bytes", [](Configured& c) { c.Write(std::string("nameserver\0 10.0.0.53\n\0\0\0", 26)); }},
        {"IPv6 servers only",
         [](Configured& c) { c.Write("nameserver ::1\nnameserver 2001:db8::53\nnameserver fe80::1%lo\n"); }},
        {"three IPv6 servers before an IPv4 one",
         [](Configured& c) { c.Write("nameserver ::1\nnameserver ::2\nnameserver ::3\nnameserver 10.0.0.53\n"); }},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.name);
        Configured c(std::string("row") + std::to_string(&row - rows));
        row.setUp(c);
        ExpectNoServer(RunCheck(c.paths));
    }
}

TEST(ResolvConfFaults, UnreadableAndJunkAroundAServer) {
    // Junk around one valid line: the server is found and asked.
    Configured junk("junk");
    junk.Write(Junk(4096) + "\nnameserver 10.0.0.53\n" + Junk(4096));
    const Outcome found = RunCheck(junk.paths);
    EXPECT_EQ(found.end, CheckEnd::Match);
    EXPECT_EQ(found.sent, 1u);

    // Mode 000: a user cannot read it and gets "Error 002"; root reads it
    // all the same (the C library's resolver would too), so as root the
    // check goes on as with a readable file.
    Configured locked("locked");
    locked.Write("nameserver 10.0.0.53\n");
    ASSERT_EQ(::chmod(locked.paths.resolvConf.c_str(), 0), 0);
    const Outcome o = RunCheck(locked.paths);
    if (::geteuid() == 0) {
        EXPECT_EQ(o.end, CheckEnd::Match);
        EXPECT_EQ(o.sent, 1u);
    } else {
        ExpectNoServer(o);
    }
}

}  // namespace
}  // namespace tarnwell
