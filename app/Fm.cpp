#include "app/Fm.h"

#include "app/FmLayout.h"
#include "platform/CodePage.h"
#include "resolve/DNS_HostByName.h"
#include "resolve/DNS_IP_READER.h"
#include "resolve/DNS_SRV_FIND.h"
#include "resolve/Report.h"
#include "resolve/Resume.h"
#include "common/Text.h"

namespace tarnwell {

namespace {

// A text counts as present when it has at least this many characters. The
// texts the rule guards are not that short when real: a dotted address has
// at least 7 characters, a web domain with a name and a top-level domain of
// two letters each 5, a registry path more; anything of 4 or fewer is taken
// for nothing, as the empty text is.
constexpr std::size_t kPresentLength = 5;

bool Present(const std::string& text) { return text::CharCount(text) >= kPresentLength; }

std::string NoReplyText() {
    return "Нет ответа от DNS сервера. Сравнить IP адреса не удалось, повторите проверку позже.";
}

}  // namespace

Fm::Fm(platform::FmView& view, FmPlatform platform, CheckState& state)
    : replyWait(kReplyWait), view_(view), platform_(platform), state_(state) {}

void Fm::Form_Load() {
    int started = -1;
    Step([&] { started = platform_.sockets.Start(); });
    if (started != 0) return;
    Step([&] { view_.Txt_IP().SetBackColor(layout::kReportBackColor); });
    for (auto preset : layout::kPresets)
        Step([&] { view_.Cmb1().AddItem(std::string(preset)); });
    Step([&] { view_.Cmb1().SetText(std::string(layout::kPresets[layout::kPreselected])); });
}

void Fm::Form_Resize() {
    // A minimized or maximized window refuses the size; the refusal is
    // ignored and the window keeps its state.
    Step([&] { view_.SetOuterHeight(layout::kOuterHeight); });
    Step([&] { view_.SetOuterWidth(layout::kOuterWidth); });
}

void Fm::Form_Unload(std::int16_t& cancel) {
    platform_.sockets.End();
    cancel = 0;
}

void Fm::Cmd1_Click() {
    const auto started = std::chrono::steady_clock::now();
    record_ = {};
    Check();
    record_.elapsed = std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - started);
}

void Fm::Check() {
    auto& report = view_.Txt_IP();
    Step([&] { report.SetText(""); });
    state_.IpMatch = false;
    state_.HostIP.clear();
    state_.HostIPs.clear();

    std::size_t length = 0;
    Step([&] { length = text::CharCount(view_.Cmb1().Text()); });
    if (length < kPresentLength) return Reject();

    std::string domain;
    Step([&] { domain = text::TrimSpaces(view_.Cmb1().Text()); });
    record_.domain = domain;
    // The name both lookups ask for, or a text that is no web domain,
    // refused before either.
    HostName name;
    if (!Step([&] { name = MakeHostName(domain); })) return Reject();
    record_.queryName = name.ace;

    Step([&] { report.SetText("Начало проверки. Домен: [" + domain + "]\r\n\r\n"); });
    Step([&] {
        Append(report, {"- Получаем IP адрес для домена [", domain,
                        "] от DNS службы компьютера (Эмуляция работы браузера)", kCrLf, kCrLf,
                        "Результат:", kCrLf});
    });
    Step([&] { state_.HostIP = GetHostIP(platform_.sockets, name.lookup, state_.HostIPs); });
    record_.systemAddresses = state_.HostIPs;

    if (!Present(state_.HostIP)) {
        Step([&] {
            Append(report, {"Ошибка! IP для Домена  [", domain, "] не определено", kCrLf, kCrLf,
                            "Причины:", kCrLf, "1. Отсутствует подключение к Интернет", kCrLf,
                            "2. Указанный домен не существует.", kCrLf});
        });
        record_.end = CheckEnd::ResolverFailed;
        return;
    }
    Step([&] { Append(report, {state_.HostIP, kCrLf, kCrLf}); });
    DirectQueryStage(domain, name);
}

void Fm::Reject() {
    Step([&] {
        platform_.messageBox.Show("Данные о домене некорректны", platform::kMbInformation, "Domen Error");
    });
    record_.end = CheckEnd::Rejected;
}

void Fm::DirectQueryStage(const std::string& domain, const HostName& name) {
    auto& report = view_.Txt_IP();
    Step([&] { Append(report, {"- Получаем IP ", domain, " (Прямой запрос на DNS сервер)", kCrLf}); });

    std::string server;
    Step([&] { server = FindDnsServer(platform_.networkParams, platform_.messageBox, state_); });
    if (!Present(server)) {
        Step([&] {
            platform_.messageBox.Show("DNS сервер не определен", platform::kMbInformation, "Error 002");
        });
        record_.end = CheckEnd::NoServer;
        return;
    }
    record_.server = server;
    Step([&] { Append(report, {"DNS сервер определен: ", server, kCrLf, kCrLf, "Результат:", kCrLf}); });

    QueryContext query{platform_.sockets, state_, report, replyWait};
    DirectAnswer answer;
    Step([&] { answer = QueryDnsServer(name.qname, server, query); });
    record_.sent = answer.sent;
    record_.rcode = answer.rcode;
    for (const auto& a : answer.addresses) record_.serverAddresses.push_back(text::DottedText(a));

    switch (Decide(answer, state_.IpMatch)) {
        case Verdict::Match:
            return WriteMatch(domain);
        case Verdict::Mismatch:
            return WriteMismatch();
        case Verdict::Inconclusive:
            return WriteInconclusive();
    }
}

void Fm::WriteMatch(const std::string& domain) {
    record_.end = CheckEnd::Match;
    Step([&] {
        Append(view_.Txt_IP(), {kCrLf, "IP адреса совпадают. Проблем связанных с доменом [", domain,
                                "] не обнаружено."});
    });
}

// No usable, complete reply is no evidence of substitution: say that the
// addresses could not be compared instead of raising the alarm.
void Fm::WriteInconclusive() {
    record_.end = CheckEnd::Inconclusive;
    Step([&] { Append(view_.Txt_IP(), {kCrLf, NoReplyText(), kCrLf}); });
}

void Fm::WriteMismatch() {
    record_.end = CheckEnd::Mismatch;
    auto& report = view_.Txt_IP();
    Step([&] {
        Append(report, {kCrLf,
                        "Внимание! Нет совпадения IP адреса. Подмена IP адреса в DNS службе "
                        "компьютера или локальной сети. Проверьте компьютер на вирусы и файл HOSTS.",
                        kCrLf, kCrLf});
    });
    const std::string path = ReadHostsDirectory();
    Step([&] { Append(report, {"Путь к фалу HOSTS по данным системного реестра:", kCrLf, path, kCrLf}); });
}

// The registry's hosts directory through a new shell object, in lower case;
// the message box when it has fewer than five characters. A shell object
// that cannot be created leaves the one of an earlier mismatch in place.
std::string Fm::ReadHostsDirectory() {
    Step([&] { WshShell_ = platform_.shells.CreateObject(platform::kShellProgId); });
    std::string path;
    Step([&] {
        if (!WshShell_) throw Failure("no shell object");
        path = WshShell_->RegRead(platform::kDataBasePath);
    });
    Step([&] { path = platform::LowerCase(path); });
    if (!Present(path)) {
        Step([&] {
            platform_.messageBox.Show("DataBasePath параметр в реестре не найден", platform::kMbInformation,
                                      "ERROR 001");
        });
    }
    return path;
}

}  // namespace tarnwell
