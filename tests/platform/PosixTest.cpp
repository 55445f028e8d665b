// The POSIX platform: its sockets under the query against a scripted
// loopback server (only the server's own reply counts; strays never end the
// wait early nor late), resolv.conf, the registry stand-in, the code page.
#include "common/Failure.h"
#include "platform/CodePage.h"
#include "platform/posix/PosixFiles.h"
#include "platform/posix/PosixShell.h"
#include "platform/posix/PosixSockets.h"
#include "platform/posix/ResolvConf.h"
#include "resolve/HostName.h"
#include "resolve/DirectQuery.h"
#include "resolve/HostsFile.h"
#include "tests/fakes/Fakes.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/stat.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <thread>

namespace tarnwell {
namespace {

using namespace std::chrono_literals;
using fakes::Bytes;

int Bound(std::uint32_t address) {
    const int fd = ::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(address);
    if (::bind(fd, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0) throw std::runtime_error("bind");
    return fd;
}

auto OpenDescriptors() { return std::distance(std::filesystem::directory_iterator("/proc/self/fd"), {}); }

// Each datagram of the script goes from the server's socket (0), another
// port on 127.0.0.1 (1) or 127.0.0.2 (2).
using Script = std::vector<std::pair<int, Bytes>>;

struct Outcome { std::string report; bool replied; };

Outcome Query(std::function<Script(const Bytes&)> script, std::chrono::milliseconds wait = 2s) {
    const int fds[] = {Bound(INADDR_LOOPBACK), Bound(INADDR_LOOPBACK), Bound(INADDR_LOOPBACK + 1)};
    sockaddr_in self{};
    socklen_t length = sizeof self;
    ::getsockname(fds[0], reinterpret_cast<sockaddr*>(&self), &length);
    std::thread server([&] {
        Bytes query(512);
        sockaddr_in from{};
        socklen_t len = sizeof from;
        const ssize_t n = ::recvfrom(fds[0], query.data(), query.size(), 0, reinterpret_cast<sockaddr*>(&from), &len);
        if (n > 0)
            for (const auto& [who, bytes] : script(Bytes(query.begin(), query.begin() + n)))
                ::sendto(fds[who], bytes.data(), bytes.size(), 0, reinterpret_cast<sockaddr*>(&from), len);
    });
    platform::PosixSockets sockets;
    std::string report;
    const QueryContext context{sockets, wait, ntohs(self.sin_port), {}, [&](const Address& a) { report += a.Text() + "\r\n"; }};
    // The real reply matches the computer's address: no second query.
    const auto answer = QueryServer(MakeHostName("aa.bbb").qname, fakes::A("127.0.0.1"), {fakes::A("10.0.0.1")}, context);
    ::shutdown(fds[0], SHUT_RDWR);  // a server still waiting gives up
    server.join();
    for (int fd : fds) ::close(fd);
    return {report, answer.a.complete > 0};
}

Bytes Real(const Bytes& q) { return fakes::ReplyTo(q, {fakes::AddressRecord(fakes::A("10.0.0.1"))}); }
Bytes Forged(const Bytes& q) { return fakes::ReplyTo(q, {fakes::AddressRecord(fakes::A("6.6.6.6"))}); }

TEST(Query, OnlyTheServersOwnReplyCounts) {
    const auto before = OpenDescriptors();
    const struct { const char* name; std::function<Script(const Bytes&)> script; Outcome expected; } rows[] = {
        {"the reply", [](auto& q) { return Script{{0, Real(q)}}; }, {"10.0.0.1\r\n", true}},
        {"oversized stray, then the reply", [](auto& q) { return Script{{0, Bytes(3000, 0x11)}, {0, Real(q)}}; },
         {"10.0.0.1\r\n", true}},
        {"empty, then the reply", [](auto& q) { return Script{{0, {}}, {0, Real(q)}}; }, {"10.0.0.1\r\n", true}},
        {"forged from another port and address", [](auto& q) { return Script{{1, Forged(q)}, {2, Forged(q)}}; },
         {"", false}},
        {"a flood of strays",
         [](auto& q) {
             Script s(20000, {0, Forged(q)});
             for (auto& [who, d] : s) d[0] ^= 0xFF;
             return s;
         },
         {"", false}},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.name);
        const Outcome o = Query(row.script, row.expected.replied ? 2s : 300ms);
        EXPECT_EQ(o.report, row.expected.report);
        EXPECT_EQ(o.replied, row.expected.replied);
    }
    EXPECT_EQ(OpenDescriptors(), before);
}

using Servers = std::vector<std::string>;

TEST(ParseNameServers, AsTheCLibraryReadsThem) {
    const std::pair<std::string, Servers> rows[] = {
        {"# c\n; c\nnameserver 10.0.0.1\n", {"10.0.0.1"}},
        {"#nameserver 1.1.1.1\n nameserver 2.2.2.2\nnameserver\t3.3.3.3 junk\n", {"3.3.3.3"}},
        {"nameserver 10.1\nnameserver  9.9.9.9\r\n", {"10.0.0.1", "9.9.9.9"}},
        {"nameserver ::1\nnameserver fe80::1%eth0\nnameserver 1.1.1.1\nnameserver 2.2.2.2\n",
         {"::1", "fe80::1%eth0", "1.1.1.1"}},
        {"nameserver 2001:DB8::053 x\nnameserver 1::2::3\nnameserver ::1%\n", {"2001:db8::53"}},
        {"nameserver 1.1.1.1\nnameserver 2.2.2.2\nnameserver 3.3.3.3\nnameserver 4.4.4.4\n",
         {"1.1.1.1", "2.2.2.2", "3.3.3.3"}},
        {"nameservers 1.1.1.1\nnameserver 1.2.3.x\nnameserver\nnameserver 999.1.1.1\n\x01\xff junk", {}},
    };
    for (const auto& [text, servers] : rows) EXPECT_EQ(platform::ParseNameServers(text), fakes::As(servers)) << text;
}

TEST(ConfiguredNameServers, LocalStubsGiveWayToTheirUpstreams) {
    const auto dir = std::filesystem::temp_directory_path() / ("tarnwell-resolv-" + std::to_string(::getpid()));
    std::filesystem::create_directories(dir);
    const platform::ResolverPaths paths{(dir / "resolv.conf").string(), (dir / "systemd").string(), (dir / "nm").string()};
    auto write = [](const std::string& path, const std::string& text) { std::ofstream(path) << text; };
    EXPECT_EQ(platform::ConfiguredNameServers(paths), fakes::As({}));  // no file
    write(paths.resolvConf, "nameserver 127.0.0.53\n");
    EXPECT_EQ(platform::ConfiguredNameServers(paths), fakes::As({"127.0.0.53"}));  // no upstream file
    write(paths.systemdUpstream, "nameserver 192.0.2.1\nnameserver 192.0.2.2\n");
    EXPECT_EQ(platform::ConfiguredNameServers(paths), fakes::As({"192.0.2.1", "192.0.2.2"}));
    write(paths.networkManagerUpstream, "nameserver 192.0.2.9\n");
    write(paths.resolvConf, "nameserver 127.0.0.1\n");  // a plain local server is used as it is
    EXPECT_EQ(platform::ConfiguredNameServers(paths), fakes::As({"127.0.0.1"}));
    write(paths.resolvConf, "# Generated by NetworkManager\nnameserver 127.0.1.1\n");
    platform::ResolvConfNetworkParams params(paths);
    EXPECT_EQ(params.DnsServers(), std::optional(std::vector<Address>{fakes::A("192.0.2.9")}));
    std::filesystem::remove_all(dir);
}

TEST(PosixFiles, ReadsRegularFilesOrSaysWhyNot) {
    const auto dir = std::filesystem::temp_directory_path() / ("tarnwell-files-" + std::to_string(::getpid()));
    std::filesystem::create_directories(dir / "folder");
    std::ofstream(dir / "hosts") << "127.0.0.1 localhost\n";
    ::mkfifo((dir / "fifo").c_str(), 0600);  // no writer: a blocking open would never return
    using platform::ReadFault;
    const std::tuple<std::string, std::size_t, std::variant<std::string, ReadFault>> rows[] = {
        {"hosts", 20, "127.0.0.1 localhost\n"}, {"hosts", 19, ReadFault::TooLarge}, {"missing", 20, ReadFault::Missing},
        {"hosts/x", 20, ReadFault::Missing}, {"fifo", 20, ReadFault::Error}, {"folder", 20, ReadFault::Directory}};
    platform::PosixFiles files;
    for (const auto& [name, limit, want] : rows) EXPECT_EQ(files.Read(dir / name, limit), want) << name << " " << limit;
    EXPECT_EQ(files.HostsPath("C:\\Windows\\System32\\drivers\\etc"), "/etc/hosts");
    // 65 MiB of comments on one line, then a line that maps the name: read to the end, a chunk at a time.
    std::ofstream(dir / "large") << "#" << std::string(65 << 20, 'x') << "\n10.0.0.1 a.test\n";
    hosts::Finder finder("a.test", files.Syntax());
    const auto take = [&](std::string_view chunk) { return finder.Feed(chunk), chunk.size() <= platform::kChunkBytes; };
    EXPECT_EQ(files.ReadChunks(dir / "large", take), std::nullopt);
    EXPECT_EQ(finder.End().lines, (std::vector<hosts::Line>{{2, "10.0.0.1 a.test", "10.0.0.1"}}));
    std::filesystem::remove_all(dir);
}

TEST(PosixPlatform, HostsDirectoryAndCodePage) {
    platform::PosixShellFactory factory;
    EXPECT_EQ(factory.CreateObject("WScript.Shell")->RegRead(platform::kDataBasePath), "/etc/");
    EXPECT_THROW(factory.CreateObject("Wscript.Shell")->RegRead("HKEY_LOCAL_MACHINE\\SYSTEM\\X"), Failure);
    EXPECT_THROW(factory.CreateObject("Scripting.FileSystemObject"), Failure);
    EXPECT_EQ(platform::LowerCase("C:\\WINDOWS\\Система"), "c:\\windows\\система");
}

}  // namespace
}  // namespace tarnwell
