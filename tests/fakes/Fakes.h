#pragma once
// Stand-ins for the platform, for tests of the logic without a real window,
// network or registry.
#include "common/Failure.h"
#include "platform/MsgBox.h"
#include "platform/NetworkParams.h"
#include "platform/Shell.h"
#include "platform/Sockets.h"
#include "platform/Toolkit.h"

#include <cstdio>
#include <cstring>
#include <deque>
#include <functional>
#include <map>
#include <string>
#include <vector>

namespace tarnwell::fakes {

struct FakeTextBox : platform::TextBox {
    std::string text;
    platform::Rgb back{255, 255, 255};
    bool failReads = false;
    std::string Text() override {
        if (failReads) throw Failure("read");
        return text;
    }
    void SetText(const std::string& t) override { text = t; }
    void SetBackColor(platform::Rgb c) override { back = c; }
};

struct FakeComboBox : platform::ComboBox {
    std::vector<std::string> items;
    std::string text;
    void AddItem(const std::string& item) override { items.push_back(item); }
    std::string Text() override { return text; }
    void SetText(const std::string& t) override { text = t; }
};

struct FakeView : platform::FmView {
    FakeComboBox combo;
    FakeTextBox report;
    int outerWidth = 0, outerHeight = 0;
    bool minimized = false;
    void SetOuterHeight(int twips) override {
        if (minimized) throw Failure("minimized");
        outerHeight = twips;
    }
    void SetOuterWidth(int twips) override {
        if (minimized) throw Failure("minimized");
        outerWidth = twips;
    }
    platform::ComboBox& Cmb1() override { return combo; }
    platform::TextBox& Txt_IP() override { return report; }
};

struct Shown {
    std::string prompt;
    int style;
    std::string title;
    std::string reportThen;  // the report text when the box came up
};

struct RecordingMessageBox : platform::MsgBox {
    std::vector<Shown> shown;
    const FakeTextBox* report = nullptr;
    int Show(const std::string& prompt, int style, const std::string& title) override {
        shown.push_back({prompt, style, title, report ? report->text : std::string()});
        return 1;
    }
};

// Sockets whose resolver answers from a table and whose server replies are
// produced by a function of the query sent.
struct FakeSockets : platform::Sockets {
    std::map<std::string, std::vector<platform::Ipv4>> hosts;  // 8-bit names
    std::function<std::vector<std::vector<std::uint8_t>>(const std::vector<std::uint8_t>&)> server;
    std::vector<std::vector<std::uint8_t>> sent;
    std::vector<std::string> lookedUp;
    std::deque<std::vector<std::uint8_t>> pending;
    int started = 0, ended = 0, open = 0, created = 0;
    int startResult = 0;

    int Start() override { ++started; return startResult; }
    void End() override { ++ended; }
    std::optional<std::vector<platform::Ipv4>> GetHostByName(const std::string& name) override {
        lookedUp.push_back(name);
        const auto it = hosts.find(name);
        if (it == hosts.end()) return std::nullopt;
        return it->second;
    }
    std::int32_t InetAddr(const std::string& text) override {
        unsigned a, b, c, d;
        char extra;
        if (std::sscanf(text.c_str(), "%u.%u.%u.%u%c", &a, &b, &c, &d, &extra) != 4 || a > 255 ||
            b > 255 || c > 255 || d > 255)
            return -1;
        const std::uint8_t bytes[4] = {std::uint8_t(a), std::uint8_t(b), std::uint8_t(c), std::uint8_t(d)};
        std::int32_t v;
        std::memcpy(&v, bytes, 4);
        return v;
    }
    platform::SocketHandle Socket() override { ++open; return ++created; }
    int Connect(platform::SocketHandle, const platform::Ipv4&, std::uint16_t) override { return 0; }
    int Send(platform::SocketHandle, const std::uint8_t* data, int length) override {
        sent.emplace_back(data, data + length);
        if (server)
            for (auto& reply : server(sent.back())) pending.push_back(std::move(reply));
        return length;
    }
    int Receive(platform::SocketHandle, std::uint8_t* buffer, int capacity, std::chrono::milliseconds) override {
        if (pending.empty()) return -1;
        auto d = std::move(pending.front());
        pending.pop_front();
        if (static_cast<int>(d.size()) > capacity) return -1;
        std::copy(d.begin(), d.end(), buffer);
        return static_cast<int>(d.size());
    }
    void Close(platform::SocketHandle) override { --open; }
};

struct FakeNetworkParams : platform::NetworkParams {
    bool available = true;
    std::uint32_t sizeCode = platform::kErrorBufferOverflow;
    std::vector<platform::IpAddressString> entries;
    bool Available() override { return available; }
    std::uint32_t QuerySize(std::uint32_t& size) override {
        size = 100;
        return sizeCode;
    }
    std::vector<platform::IpAddressString> DnsServerList(std::uint32_t) override { return entries; }

    void Add(std::string_view field) {
        platform::IpAddressString e{};
        std::copy(field.begin(), field.begin() + std::min<std::size_t>(field.size(), 16), e.begin());
        entries.push_back(e);
    }
};

struct FakeShellFactory : platform::ShellFactory {
    struct Shell : platform::Shell {
        FakeShellFactory& owner;
        explicit Shell(FakeShellFactory& o) : owner(o) {}
        std::string RegRead(const std::string& path) override {
            owner.readPaths.push_back(path);
            if (!owner.value) throw Failure("missing value");
            return *owner.value;
        }
    };
    std::optional<std::string> value = "C:\\WINDOWS\\System32\\drivers\\etc";
    bool failCreate = false;
    int created = 0;
    std::vector<std::string> readPaths;
    std::unique_ptr<platform::Shell> CreateObject(const std::string& progId) override {
        if (failCreate || progId != "Wscript.Shell") throw Failure("no object");
        ++created;
        return std::make_unique<Shell>(*this);
    }
};

// A DNS reply to `query` (its header and question echoed) carrying the
// given answer records, already encoded.
std::vector<std::uint8_t> ReplyTo(const std::vector<std::uint8_t>& query,
                                  const std::vector<std::vector<std::uint8_t>>& answers);
// An A record of class IN whose owner is a pointer to the question name.
std::vector<std::uint8_t> ARecord(platform::Ipv4 address);

}  // namespace tarnwell::fakes
