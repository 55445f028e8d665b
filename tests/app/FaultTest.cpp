// Platform faults in the check procedure, through small fakes: the socket
// calls failing one by one, the hosts-directory lookup failing, and domain
// texts of blanks at the length bound.
#include "app/Fm.h"
#include "tests/fakes/Fakes.h"

#include <gtest/gtest.h>

namespace tarnwell {
namespace {

const std::string kResultLine = "Результат:\r\n";
const std::string kWarning =
    "\r\n"
    "Внимание! Нет совпадения IP адреса. Подмена IP адреса в DNS службе компьютера или локальной "
    "сети. Проверьте компьютер на вирусы и файл HOSTS.\r\n"
    "\r\n"
    "Путь к фалу HOSTS по данным системного реестра:\r\n";

enum class Fault { None, SocketFails, SocketThrows, ConnectFails, SendFails, SendsNothing, ReceiveFails };

// Sockets whose server always answers with the resolver's own address, so
// that only the fault can turn the verdict into a mismatch.
struct FaultySockets : fakes::FakeSockets {
    Fault fault = Fault::None;
    std::vector<platform::SocketHandle> closed;
    platform::SocketHandle Socket() override {
        if (fault == Fault::SocketFails) return platform::kNoSocket;
        if (fault == Fault::SocketThrows) throw Failure("socket");
        return FakeSockets::Socket();
    }
    int Connect(platform::SocketHandle s, const platform::Ipv4& a, std::uint16_t port) override {
        return fault == Fault::ConnectFails ? -1 : FakeSockets::Connect(s, a, port);
    }
    int Send(platform::SocketHandle s, const std::uint8_t* data, int length) override {
        if (fault == Fault::SendFails) return -1;
        if (fault == Fault::SendsNothing) return 0;
        return FakeSockets::Send(s, data, length);
    }
    int Receive(platform::SocketHandle s, std::uint8_t* b, int c, std::chrono::milliseconds w) override {
        return fault == Fault::ReceiveFails ? -1 : FakeSockets::Receive(s, b, c, w);
    }
    void Close(platform::SocketHandle s) override {
        closed.push_back(s);
        FakeSockets::Close(s);
    }
};

struct Check {
    fakes::FakeView view;
    FaultySockets sockets;
    fakes::FakeNetworkParams params;
    fakes::FakeShellFactory shells;
    fakes::RecordingMessageBox box;
    CheckState state;
    Fm fm{view, {sockets, params, shells, box}, state};
    Check() {
        box.report = &view.report;
        sockets.hosts["example.com"] = {{93, 184, 216, 34}};
        params.Add("10.0.0.53");
        sockets.server = [](const std::vector<std::uint8_t>& q) {
            return std::vector<std::vector<std::uint8_t>>{fakes::ReplyTo(q, {fakes::ARecord({93, 184, 216, 34})})};
        };
    }
    void Click(const std::string& text) {
        view.combo.text = text;
        fm.Cmd1_Click();
    }
};

TEST(Faults, EverySocketCallFailingGivesNoLinesAndAMismatch) {
    Check healthy;
    healthy.Click("example.com");
    ASSERT_EQ(healthy.fm.LastCheckEnd(), CheckEnd::Match);

    const Fault faults[] = {Fault::SocketFails, Fault::SocketThrows, Fault::ConnectFails,
                            Fault::SendFails, Fault::SendsNothing, Fault::ReceiveFails};
    for (Fault fault : faults) {
        SCOPED_TRACE(static_cast<int>(fault));
        Check c;
        c.sockets.fault = fault;
        c.Click("example.com");
        EXPECT_EQ(c.fm.LastCheckEnd(), CheckEnd::Mismatch);
        EXPECT_EQ(c.state.Answers, 0);
        // No address line between the server's result line and the warning.
        EXPECT_NE(c.view.report.text.find(kResultLine + kWarning + "c:\\windows\\system32\\drivers\\etc\r\n"),
                  std::string::npos);
        EXPECT_TRUE(c.box.shown.empty());
        const bool opened = fault != Fault::SocketFails && fault != Fault::SocketThrows;
        // A socket that was made is closed once; none is closed that was not.
        EXPECT_EQ(c.sockets.closed, opened ? std::vector<platform::SocketHandle>{1} : std::vector<platform::SocketHandle>{});
        EXPECT_EQ(c.sockets.open, 0);
        const bool sent = opened && fault != Fault::ConnectFails && fault != Fault::SendFails && fault != Fault::SendsNothing;
        EXPECT_EQ(c.sockets.sent.size(), sent ? 1u : 0u);
    }
}

TEST(Faults, HostsDirectoryLookupFailing) {
    struct Row {
        const char* name;
        std::function<void(fakes::FakeShellFactory&)> setUp;
    };
    const Row rows[] = {
        {"no shell object on the first mismatch", [](auto& s) { s.failCreate = true; }},
        {"an empty value", [](auto& s) { s.value = ""; }},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.name);
        Check c;
        c.sockets.hosts["example.com"] = {{10, 9, 9, 9}};  // the server answers otherwise: a mismatch
        row.setUp(c.shells);
        c.Click("example.com");
        EXPECT_EQ(c.fm.LastCheckEnd(), CheckEnd::Mismatch);
        ASSERT_EQ(c.box.shown.size(), 1u);
        EXPECT_EQ(c.box.shown[0].prompt, "DataBasePath параметр в реестре не найден");
        EXPECT_EQ(c.box.shown[0].title, "ERROR 001");
        EXPECT_TRUE(c.box.shown[0].reportThen.ends_with(kWarning.substr(0, kWarning.find("Путь"))));
        // The label line still follows the box, with an empty path.
        EXPECT_TRUE(c.view.report.text.ends_with(kWarning + "\r\n"));
    }
}

TEST(Faults, BlankDomainTextsAtTheLengthBound) {
    Check c;
    c.Click("    ");  // four blanks: too short
    EXPECT_EQ(c.fm.LastCheckEnd(), CheckEnd::Rejected);
    ASSERT_EQ(c.box.shown.size(), 1u);
    EXPECT_EQ(c.box.shown[0].title, "Domen Error");
    EXPECT_TRUE(c.sockets.lookedUp.empty());

    c.Click("     ");  // five blanks: long enough, and nothing once trimmed
    EXPECT_EQ(c.fm.LastCheckEnd(), CheckEnd::ResolverFailed);
    EXPECT_EQ(c.sockets.lookedUp, std::vector<std::string>{""});
    EXPECT_TRUE(c.view.report.text.starts_with("Начало проверки. Домен: []\r\n"));
    EXPECT_EQ(c.box.shown.size(), 1u);

    c.Click("a.bc ");  // four characters and a trailing blank
    EXPECT_EQ(c.sockets.lookedUp.back(), "a.bc");
    EXPECT_TRUE(c.sockets.sent.empty());
}

}  // namespace
}  // namespace tarnwell
