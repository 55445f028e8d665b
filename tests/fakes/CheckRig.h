#pragma once
// The window's check procedure wired to fakes of the whole platform: the
// resolver knows example.com, the one configured DNS server 10.0.0.53
// answers with what Answer() sets, the shell reads Windows' DataBasePath.
#include "app/Fm.h"
#include "tests/fakes/Fakes.h"

namespace tarnwell::fakes {

// The mismatch verdict up to the hosts directory line.
inline const std::string kWarningBlock =
    "\r\n"
    "Внимание! Нет совпадения IP адреса. Подмена IP адреса в DNS службе компьютера или локальной "
    "сети. Проверьте компьютер на вирусы и файл HOSTS.\r\n"
    "\r\n"
    "Путь к фалу HOSTS по данным системного реестра:\r\n";

template <class Sockets = FakeSockets>
struct CheckRig {
    FakeView view;
    Sockets sockets;
    FakeNetworkParams params;
    FakeShellFactory shells;
    RecordingMessageBox box;
    CheckState state;
    Fm fm{view, {sockets, params, shells, box}, state};

    explicit CheckRig(std::vector<platform::Ipv4> resolver = {{93, 184, 216, 34}}) {
        box.report = &view.report;
        sockets.hosts["example.com"] = std::move(resolver);
        params.Add("10.0.0.53");
        Answer({{93, 184, 216, 34}});
    }
    // The server answers every query with these A records.
    void Answer(std::vector<platform::Ipv4> addresses) {
        sockets.server = [addresses](const std::vector<std::uint8_t>& q) {
            std::vector<std::vector<std::uint8_t>> records;
            for (auto a : addresses) records.push_back(ARecord(a));
            return std::vector<std::vector<std::uint8_t>>{ReplyTo(q, records)};
        };
    }
    void Click(const std::string& text) {
        view.combo.text = text;
        fm.Cmd1_Click();
    }
};

}  // namespace tarnwell::fakes
