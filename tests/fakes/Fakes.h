#pragma once
// Stand-ins for the platform, and a rig that wires them to the window's logic.
#include "app/ConsoleCheck.h"
#include "app/Fm.h"
#include "common/Failure.h"

#include <atomic>
#include <cstdio>
#include <cstring>
#include <deque>
#include <functional>
#include <map>
#include <mutex>
#include <new>
#include <set>
#include <thread>

namespace tarnwell::fakes {

using Bytes = std::vector<std::uint8_t>;

// A reply to `query`: header and question echoed with QR, RA and RCODE,
// then the answer records, already encoded.
inline Bytes ReplyTo(const Bytes& query, const std::vector<Bytes>& answers, std::uint8_t rcode = 0) {
    Bytes reply(query);
    reply[2] = 0x81;
    reply[3] = static_cast<std::uint8_t>(0x80 | rcode);
    reply[7] = static_cast<std::uint8_t>(answers.size());
    for (const auto& a : answers) reply.insert(reply.end(), a.begin(), a.end());
    return reply;
}
// A record whose owner is a pointer to the question name.
inline Bytes Record(std::uint8_t type, std::uint8_t klass, Bytes data) {
    data.insert(data.begin(), {0xC0, 0x0C, 0, type, 0, klass, 0, 0, 0x0E, 0x10, 0, static_cast<std::uint8_t>(data.size())});
    return data;
}
// An address from its text, and addresses from theirs.
inline Address A(std::string_view text) { return *Address::Parse(text, true); }
inline std::vector<Address> As(const std::vector<std::string>& texts) {
    std::vector<Address> addresses;
    for (const auto& t : texts) addresses.push_back(A(t));
    return addresses;
}
// An A or AAAA record of class IN for the address.
inline Bytes AddressRecord(const Address& a) {
    return Record(a.IsV4() ? 1 : 28, 1, Bytes(a.Bytes().begin(), a.Bytes().end()));
}
// Whether the query asks for AAAA records: the question's QTYPE, its last but two octets.
inline bool AsksAaaa(const Bytes& query) { return query[query.size() - 3] == 28; }

struct FakeTextBox : platform::TextBox {
    std::string text;
    std::string Text() override { return text; }
    void SetText(const std::string& t) override { text = t; }
    void Append(const std::string& piece) override { text += piece; }
    void SetBackColor(platform::Rgb) override {}
};

struct FakeView : platform::FmView {
    struct : platform::ComboBox {
        std::vector<std::string> items;
        std::string text;
        void AddItem(const std::string& item) override { items.push_back(item); }
        std::string Text() override { return text; }
        void SetText(const std::string& t) override { text = t; }
    } combo;
    FakeTextBox report;
    void SetOuterHeight(int) override {}
    void SetOuterWidth(int) override {}
    platform::ComboBox& Cmb1() override { return combo; }
    platform::TextBox& Txt_IP() override { return report; }
};

// Records each box as "TITLE: PROMPT" ("?" ends it for a style but 64).
struct RecordingMessageBox : platform::MsgBox {
    std::vector<std::string> shown;
    void Show(const std::string& prompt, int style, const std::string& title) override {
        shown.push_back(title + ": " + prompt + (style == platform::kMbInformation ? "" : "?"));
    }
};

// Sockets whose resolver answers from a table (in `resolverTime`) and whose
// server's datagrams are made from the query sent, one queue per socket;
// safe for checks on several threads. The fail* fields give a call's
// failure; `silent` makes every receive wait out its time and find nothing.
struct FakeSockets : platform::Sockets {
    std::map<std::string, std::vector<Address>> hosts;  // 8-bit names
    std::vector<Address> own{A("192.0.2.200")};         // the interfaces' addresses
    std::function<std::vector<Bytes>(const Bytes&)> server;
    std::function<void()> onSend;
    std::function<void(const std::string&)> onLookup;  // called on the checking thread, unlocked
    std::vector<std::string> lookedUp;
    std::map<platform::SocketHandle, std::deque<Bytes>> pending;
    int open = 0, made = 0, startResult = 0, failSocket = 0, failConnect = 0, failSend = 0, failReceive = 0;
    std::chrono::milliseconds resolverTime{0};
    bool silent = false;
    std::mutex mutex;

    int Start() override { return startResult; }
    std::optional<std::vector<Address>> GetAddrInfo(const std::string& name) override {
        if (onLookup) onLookup(name);
        std::this_thread::sleep_for(resolverTime);
        std::lock_guard l(mutex);
        lookedUp.push_back(name);
        return hosts.contains(name) ? std::optional(hosts[name]) : std::nullopt;
    }
    std::vector<Address> InterfaceAddresses() override { return own; }
    platform::SocketHandle Socket(Address::Family) override {
        std::lock_guard l(mutex);
        if (failSocket) return failSocket;
        ++open;
        return ++made + 6;
    }
    int Connect(platform::SocketHandle, const Address&, std::uint16_t) override { return failConnect; }
    int Send(platform::SocketHandle s, const std::uint8_t* data, int length) override {
        if (onSend) onSend();
        std::lock_guard l(mutex);
        if (failSend) return failSend;
        for (auto& reply : server ? server(Bytes(data, data + length)) : std::vector<Bytes>{}) pending[s].push_back(reply);
        return length;
    }
    // With nothing pending the port is refused, as a host without a server refuses it.
    platform::Received Receive(platform::SocketHandle s, std::uint8_t* buffer, int capacity,
                               std::chrono::milliseconds wait) override {
        using Kind = platform::Received::Kind;
        std::unique_lock l(mutex);
        if (failReceive || (!silent && pending[s].empty())) return {Kind::Failed};
        if (silent) {
            l.unlock();
            std::this_thread::sleep_for(wait);
            return {Kind::Timeout};
        }
        const Bytes d = pending[s].front();
        pending[s].pop_front();
        if (static_cast<int>(d.size()) > capacity) return {Kind::TooLong};
        std::copy(d.begin(), d.end(), buffer);
        return {Kind::Datagram, static_cast<int>(d.size())};
    }
    void Close(platform::SocketHandle) override { std::lock_guard l(mutex); --open; }
};

// The configured servers; nothing when the service is missing.
struct FakeNetworkParams : platform::NetworkParams {
    std::optional<std::vector<Address>> servers = std::vector<Address>{A("10.0.0.53")};
    std::optional<std::vector<Address>> DnsServers() override { return servers; }
};

struct FakeShellFactory : platform::ShellFactory, platform::Shell {
    std::optional<std::string> value = "C:\\WINDOWS\\System32\\drivers\\etc";
    bool failCreate = false;
    std::vector<std::string> readPaths;
    std::mutex mutex;
    std::string RegRead(const std::string& path) override {
        std::lock_guard l(mutex);
        readPaths.push_back(path);
        if (!value) throw Failure("missing value");
        return *value;
    }
    std::unique_ptr<platform::Shell> CreateObject(const std::string& progId) override {
        if (failCreate || progId != platform::kShellProgId) throw Failure("no object");
        struct Object : platform::Shell {
            FakeShellFactory& f;
            explicit Object(FakeShellFactory& o) : f(o) {}
            std::string RegRead(const std::string& path) override { return f.RegRead(path); }
        };
        return std::make_unique<Object>(*this);
    }
};

inline const std::string kWitnessUrl = "https://192.0.2.53/dns-query";  // the fake settings' witness

// A file system of one hosts file and settings files by path (any other
// missing), each its text or why it cannot be read; read 5 octets at a time,
// the paths read kept.
struct FakeFiles : platform::Files {
    using File = std::variant<std::string, platform::ReadFault>;
    File hosts = "127.0.0.1 localhost\n";
    std::map<std::string, File> settings{{"/etc/t.conf", "witness = " + kWitnessUrl + "\n"}};
    std::vector<std::string> read;
    std::mutex mutex;
    std::string HostsPath(const std::string& directory) override { return directory + "\\hosts"; }
    platform::HostsSyntax Syntax() const override { return platform::kGlibcHosts; }
    std::vector<std::string> SettingsPaths() const override { return {"/etc/t.conf", "/home/t.conf"}; }
    std::optional<platform::ReadFault> ReadChunks(const std::string& path, const Take& take) override {
        { std::lock_guard l(mutex); read.push_back(path); }
        const File* file = path.ends_with("\\hosts") ? &hosts : settings.contains(path) ? &settings.at(path) : nullptr;
        if (!file || file->index()) return file ? std::get<1>(*file) : platform::ReadFault::Missing;
        const std::string_view bytes = std::get<0>(*file);
        for (std::size_t at = 0; at < bytes.size() && take(bytes.substr(at, 5)); at += 5) {}
        return std::nullopt;
    }
};

// A site's proofs by address text, and through a proxy by "via HOST:PORT";
// an address not listed has nothing on port 443, a proxy not listed
// refuses. The probes end in their order, those `late` last. Each post and
// fetch is heard of with the proxy `road` gives it.
struct FakeTls : platform::Tls {
    std::map<std::string, platform::Proof> proofs;
    std::set<std::string> late;
    std::vector<std::string> probed;
    bool starved = false;  // no memory to be had: every call throws
    std::mutex mutex;      // the checks of a run call at once
    std::vector<platform::Proof> ProbeRoutes(const std::vector<platform::ProbeRoute>& routes, const std::string& name,
                                             std::chrono::steady_clock::time_point, const platform::Serve&,
                                             const platform::ProbeEnded& ended, const platform::RoadFor& = {}) override {
        std::vector<std::string> keys;
        for (const auto& r : routes)
            keys.push_back(r.via.scheme == platform::ProxyScheme::Direct ? r.address.Text()
                                                                           : "via " + r.via.host + ":" + std::to_string(r.via.port));
        if (starved) throw std::bad_alloc();
        std::vector<platform::Proof> out;
        std::vector<std::size_t> order;
        std::unique_lock lock(mutex);
        for (const auto& key : keys) {
            probed.push_back(key + " " + name), order.push_back(out.size());
            out.push_back(proofs.contains(key) ? proofs.at(key) : platform::Unknown(platform::ProofReason::Refused));
        }
        std::stable_partition(order.begin(), order.end(), [&](std::size_t i) { return !late.contains(keys[i]); });
        lock.unlock();
        for (const auto i : order) ended(i, out[i]);
        return out;
    }
};

// Witnesses by URL: one in `zone` answers every query with its addresses of
// the query's type (NXDOMAIN when it has none of either family), one in
// `ends` ends its posts so, any other is refused. The settings' witness
// agrees with the resolver's example.com. A GET has nobody to ask.
struct FakeHttp : platform::Http {
    std::map<std::string, std::vector<Address>> zone{{kWitnessUrl, {A("93.184.216.34")}}};
    std::map<std::string, platform::HttpsEnd> ends;
    std::atomic<int> posts{0};
    std::map<std::string, platform::GetReply> gets;  // a GET of any other URL has nobody to ask
    using Time = std::chrono::steady_clock::time_point;
    using platform::Http::Get;
    platform::GetReply Get(const std::string& url, std::size_t, Time, const platform::ProxyEntry&) override {
        return gets.contains(url) ? gets.at(url) : platform::GetReply{};
    }
    std::vector<std::string> vias;  // the proxy host of each post, "" straight
    std::mutex viasMutex;           // the checks of a run post at once
    std::vector<platform::HttpsReply> PostAll(const std::vector<platform::HttpsPost>& all, Time, const platform::Serve&) override {
        std::vector<platform::HttpsReply> replies;
        for (const auto& p : all) {
            { std::lock_guard lock(viasMutex); vias.push_back(p.via.host); }
            replies.push_back(Post(p.url, p.body));
        }
        return replies;
    }
    platform::HttpsReply Post(const std::string& url, const std::string& body) {
        ++posts;
        if (ends.contains(url)) return {ends.at(url), {}};
        if (!zone.contains(url)) return {};
        const Bytes q(body.begin(), body.end());
        if (q.at(0) || q.at(1)) return {};  // identifier 0 over HTTPS (RFC 8484 section 4.1)
        std::vector<Bytes> records;
        for (const auto& a : zone.at(url))
            if (a.IsV4() != AsksAaaa(q)) records.push_back(AddressRecord(a));
        const Bytes reply = ReplyTo(q, records, zone.at(url).empty() ? 3 : 0);
        return {platform::HttpsEnd::Reply, std::string(reply.begin(), reply.end())};
    }
};

// The browser's proxy settings, nothing set unless a test sets them;
// automatic detection finds its URL only when asked to run.
struct FakeProxy : platform::ProxySettingsReader {
    platform::ProxySettings settings;
    platform::ProxySettings Read(std::chrono::steady_clock::time_point, bool detect) override {
        auto read = settings;
        if (!detect && read.mode == platform::ProxySettings::Mode::AutoDetect) read.pacUrl.clear();
        return read;
    }
};

// The platform of a check: the resolver knows example.com as 93.184.216.34,
// the one configured DNS server 10.0.0.53 answers every query with the
// records of the query's type among the addresses that Answer() sets.
struct Platform {
    FakeSockets sockets;
    FakeNetworkParams params;
    FakeShellFactory shells;
    FakeFiles files;
    FakeTls tls;
    FakeHttp http;
    FakeProxy proxy;
    ConsolePlatform Console() { return {sockets, params, shells, files, tls, http, &proxy}; }
    Platform() {
        sockets.hosts["example.com"] = {A("93.184.216.34")};
        Answer({A("93.184.216.34")});
    }
    void Answer(std::vector<Address> addresses, std::uint8_t rcode = 0) { Answers({addresses}, rcode); }
    // One reply to each query in turn, the last one to the queries after.
    void Answers(std::vector<std::vector<Address>> replies, std::uint8_t rcode = 0) {
        sockets.server = [=, n = std::size_t{0}](const Bytes& q) mutable {
            std::vector<Bytes> records;
            for (const auto& a : replies[std::min(n++, replies.size() - 1)])
                if (a.IsV4() != AsksAaaa(q)) records.push_back(AddressRecord(a));
            return std::vector<Bytes>{ReplyTo(q, records, rcode)};
        };
    }
};

// The window's logic on that platform.
struct CheckRig : Platform {
    FakeView view;
    RecordingMessageBox box;
    Fm fm{view, {sockets, params, shells, box, files, tls, http, {}, &proxy}};
    void Click(const std::string& text) {
        view.combo.text = text;
        fm.Cmd1_Click();
    }
};

}  // namespace tarnwell::fakes
