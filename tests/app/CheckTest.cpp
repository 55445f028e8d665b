// The check procedure from the click to the verdict, against fakes of the
// platform: every report byte for byte, and the platform's faults.
#include "tests/fakes/CheckRig.h"

#include <gtest/gtest.h>

namespace tarnwell {
namespace {

const std::string kHead =
    "Начало проверки. Домен: [example.com]\r\n"
    "\r\n"
    "- Получаем IP адрес для домена [example.com] от DNS службы компьютера (Эмуляция работы браузера)\r\n"
    "\r\n"
    "Результат:\r\n";
const std::string kDirect =
    "93.184.216.34\r\n"
    "\r\n"
    "- Получаем IP example.com (Прямой запрос на DNS сервер)\r\n";
const std::string kServer =
    "DNS сервер определен: 10.0.0.53\r\n"
    "\r\n"
    "Результат:\r\n";
const std::string& kWarning = fakes::kWarningBlock;
const std::string kResultLine = "Результат:\r\n";

class CheckTest : public ::testing::Test, protected fakes::CheckRig<> {
protected:
    CheckTest() : CheckRig({{93, 184, 216, 34}, {93, 184, 216, 35}}) { Answer({{10, 1, 1, 1}, {93, 184, 216, 34}}); }
};

TEST_F(CheckTest, MatchVerdictEndsWithoutLineBreak) {
    Click("example.com");
    EXPECT_EQ(view.report.text, kHead + kDirect + kServer +
                                    "10.1.1.1\r\n93.184.216.34\r\n\r\n"
                                    "IP адреса совпадают. Проблем связанных с доменом [example.com] не обнаружено.");
    EXPECT_TRUE(box.shown.empty());
    EXPECT_EQ(shells.created, 0);  // a match reads no registry
    EXPECT_EQ(fm.LastCheckEnd(), CheckEnd::Match);
    EXPECT_EQ(sockets.open, 0);
}

TEST_F(CheckTest, MismatchShowsLowerCasedHostsDirectory) {
    Answer({{10, 1, 1, 1}});
    Click("example.com");
    EXPECT_EQ(view.report.text,
              kHead + kDirect + kServer + "10.1.1.1\r\n" + kWarning + "c:\\windows\\system32\\drivers\\etc\r\n");
    EXPECT_TRUE(box.shown.empty());
    ASSERT_EQ(shells.readPaths.size(), 1u);
    EXPECT_EQ(shells.readPaths[0],
              "HKEY_LOCAL_MACHINE\\SYSTEM\\CurrentControlSet\\Services\\Tcpip\\Parameters\\DataBasePath");
    EXPECT_EQ(state.Answers, 1);

    // A second mismatch creates a fresh shell object in place of the first.
    const platform::Shell* first = fm.WshShell();
    Click("example.com");
    EXPECT_EQ(shells.created, 2);
    EXPECT_NE(fm.WshShell(), nullptr);
    EXPECT_NE(fm.WshShell(), first);
}

TEST_F(CheckTest, NoAnswerGivesMismatchRightAfterResult) {
    sockets.server = nullptr;  // the server never answers
    Click("example.com");
    EXPECT_EQ(view.report.text, kHead + kDirect + kServer + kWarning + "c:\\windows\\system32\\drivers\\etc\r\n");
}

TEST_F(CheckTest, MissingRegistryValueStillWritesTheLabel) {
    Answer({{10, 1, 1, 1}});
    shells.value.reset();
    Click("example.com");
    ASSERT_EQ(box.shown.size(), 1u);
    EXPECT_EQ(box.shown[0].prompt, "DataBasePath параметр в реестре не найден");
    EXPECT_EQ(box.shown[0].title, "ERROR 001");
    EXPECT_EQ(box.shown[0].style, 64);
    // The box comes up after the warning and before the label line.
    EXPECT_EQ(box.shown[0].reportThen,
              kHead + kDirect + kServer + "10.1.1.1\r\n" + kWarning.substr(0, kWarning.find("Путь")));
    EXPECT_EQ(view.report.text, kHead + kDirect + kServer + "10.1.1.1\r\n" + kWarning + "\r\n");

    // A value of 1 to 4 characters is written all the same, lower-cased.
    shells.value = "C:\\X";
    Click("example.com");
    EXPECT_EQ(box.shown.size(), 2u);
    EXPECT_TRUE(view.report.text.ends_with("реестра:\r\nc:\\x\r\n"));

    // No shell object can be created: the one of the earlier mismatch reads.
    shells.failCreate = true;
    shells.value = "D:\\Hosts";
    Click("example.com");
    EXPECT_TRUE(view.report.text.ends_with("реестра:\r\nd:\\hosts\r\n"));
}

TEST_F(CheckTest, NoServerEndsWithError002) {
    params.entries.clear();
    params.Add("");
    Click("example.com");
    EXPECT_EQ(view.report.text, kHead + kDirect);
    ASSERT_EQ(box.shown.size(), 1u);
    EXPECT_EQ(box.shown[0].prompt, "DNS сервер не определен");
    EXPECT_EQ(box.shown[0].title, "Error 002");
    EXPECT_TRUE(sockets.sent.empty());
    EXPECT_EQ(fm.LastCheckEnd(), CheckEnd::NoServer);

    // A missing service shows its own box first, then "Error 002".
    params.available = false;
    Click("example.com");
    ASSERT_EQ(box.shown.size(), 3u);
    EXPECT_EQ(box.shown[1].title, "Error 001");
    EXPECT_EQ(box.shown[1].prompt, "Iphlpapi.dll load error");
    EXPECT_EQ(box.shown[2].title, "Error 002");
}

TEST_F(CheckTest, ResolverFailureListsTheReasons) {
    Click("nowhere.test");
    EXPECT_EQ(view.report.text,
              "Начало проверки. Домен: [nowhere.test]\r\n"
              "\r\n"
              "- Получаем IP адрес для домена [nowhere.test] от DNS службы компьютера (Эмуляция работы браузера)\r\n"
              "\r\n"
              "Результат:\r\n"
              "Ошибка! IP для Домена  [nowhere.test] не определено\r\n"
              "\r\n"
              "Причины:\r\n"
              "1. Отсутствует подключение к Интернет\r\n"
              "2. Указанный домен не существует.\r\n");
    EXPECT_TRUE(box.shown.empty());
    EXPECT_EQ(fm.LastCheckEnd(), CheckEnd::ResolverFailed);
}

TEST_F(CheckTest, LengthIsCountedBeforeTrimmingSpaces) {
    view.report.text = "old report";
    Click("a.bc");  // 4 characters
    EXPECT_EQ(view.report.text, "");
    ASSERT_EQ(box.shown.size(), 1u);
    EXPECT_EQ(box.shown[0].prompt, "Данные о домене некорректны");
    EXPECT_EQ(box.shown[0].title, "Domen Error");
    EXPECT_EQ(fm.LastCheckEnd(), CheckEnd::Rejected);

    Click(" a.bc");  // 5 with the blank: accepted, D is trimmed
    EXPECT_EQ(box.shown.size(), 1u);
    EXPECT_TRUE(view.report.text.starts_with("Начало проверки. Домен: [a.bc]\r\n"));
    ASSERT_FALSE(sockets.lookedUp.empty());
    EXPECT_EQ(sockets.lookedUp.back(), "a.bc");

    // Only space characters are trimmed; tabs and inner blanks stay.
    Click("  \tex ample.com ");
    EXPECT_EQ(sockets.lookedUp.back(), "\tex ample.com");
    EXPECT_EQ(view.report.text.substr(0, view.report.text.find("\r\n")),
              "Начало проверки. Домен: [\tex ample.com]");

    // Five characters counted, not five bytes: "пр.рф" is 5 characters.
    Click("пр.р");
    EXPECT_EQ(box.shown.size(), 2u);
}

TEST_F(CheckTest, InternationalNamesTakeTheBrowsersRoad) {
    sockets.hosts["xn--e1afmkfd.xn--p1ai"] = {{10, 1, 1, 1}};
    Click(" пример.рф ");
    EXPECT_EQ(sockets.lookedUp.back(), "xn--e1afmkfd.xn--p1ai");
    EXPECT_TRUE(view.report.text.starts_with("Начало проверки. Домен: [пример.рф]\r\n"));
    EXPECT_NE(view.report.text.find("- Получаем IP пример.рф (Прямой"), std::string::npos);
    EXPECT_EQ(fm.LastCheckEnd(), CheckEnd::Match);

    // A name IDNA rejects goes to the resolver in Windows-1251. The control
    // character makes IDNA2003 (Windows' IdnToAscii) refuse it too, not only
    // IDNA2008.
    Click("ая.ру€\a");
    EXPECT_EQ(sockets.lookedUp.back(), "\xe0\xff.\xf0\xf3\x88\a");
    EXPECT_EQ(fm.LastCheckEnd(), CheckEnd::ResolverFailed);
}

TEST_F(CheckTest, EmptyAddressListCountsAsNone) {
    // A dotted text has at least seven characters, so the shortest answer
    // the resolver can give is none at all: a record with no address.
    struct ShortSockets : fakes::FakeSockets {
        std::optional<std::vector<platform::Ipv4>> GetHostByName(const std::string&) override {
            return std::vector<platform::Ipv4>{};
        }
    } empty;
    Fm other{view, {empty, params, shells, box}, state};
    view.combo.text = "example.com";
    other.Cmd1_Click();
    EXPECT_EQ(other.LastCheckEnd(), CheckEnd::ResolverFailed);
    EXPECT_EQ(state.HostIP, "");
}

TEST_F(CheckTest, AnyDomainTextEndsInAClearOutcome) {
    const std::string inputs[] = {"", "x", std::string(10000, 'a'), "exam\x01\x02ple.com\x7f",
                                  "пример.рф", "例子.测试", std::string(300, 'b') + ".com",
                                  "\xff\xfe\xfd\xfc\xfb"};
    for (const auto& input : inputs) {
        Click(input);
        EXPECT_NE(fm.LastCheckEnd(), CheckEnd::None);
        EXPECT_NE(fm.LastCheckEnd(), CheckEnd::Match) << input.substr(0, 20);
        EXPECT_EQ(sockets.open, 0);
    }
}

TEST_F(CheckTest, LoadFillsPresetsAndResizeForcesOuterSize) {
    fm.Form_Load();
    EXPECT_EQ(view.combo.items.size(), 8u);
    EXPECT_EQ(view.combo.text, view.combo.items[2]);
    EXPECT_EQ(view.report.back.red, 251);
    EXPECT_EQ(view.report.back.green, 249);
    EXPECT_EQ(view.report.back.blue, 244);
    for (const auto& item : view.combo.items) {
        EXPECT_GT(item.size(), 4u);
        EXPECT_EQ(item.find_first_of("ABCDEFGHIJKLMNOPQRSTUVWXYZ/:"), std::string::npos);
    }

    fm.Form_Resize();
    EXPECT_EQ(view.outerWidth, 7785);
    EXPECT_EQ(view.outerHeight, 7140);
    view.minimized = true;
    view.outerWidth = 1;
    fm.Form_Resize();  // refused and ignored
    EXPECT_EQ(view.outerWidth, 1);

    std::int16_t cancel = 0;
    fm.Form_Unload(cancel);
    EXPECT_EQ(cancel, 0);
    EXPECT_EQ(sockets.ended, 1);
}

TEST_F(CheckTest, FailedStartLeavesTheWindowEmpty) {
    sockets.startResult = 10091;
    fm.Form_Load();
    EXPECT_TRUE(view.combo.items.empty());
    EXPECT_EQ(view.combo.text, "");
    EXPECT_EQ(view.report.back.red, 255);
    EXPECT_TRUE(box.shown.empty());
}

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

// The server answers with the resolver's own address, so that only the
// fault can turn the verdict into a mismatch.
using Check = fakes::CheckRig<FaultySockets>;

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
