#include "app/Fm.h"

#include "app/FmLayout.h"
#include "platform/CodePage.h"
#include "resolve/DNS_HostByName.h"
#include "resolve/DNS_IP_READER.h"
#include "resolve/DNS_SRV_FIND.h"
#include "resolve/Report.h"
#include "resolve/Resume.h"
#include "common/Text.h"

#include <algorithm>

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
            if (answer.server && (*answer.server)[0] == 127 && EchoesHostsFile(name)) return WriteLocalEcho(domain);
            return WriteMatch(domain);
        case Verdict::Mismatch:
            FindHostsLines(WriteMismatch(), name);
            break;
        case Verdict::Inconclusive:
            WriteInconclusive();
            FindHostsLines(ReadRegistryDirectory(false), name);
            break;
    }
    WriteHostsLines(domain);
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

// The warning and the registry's hosts directory; gives the directory as read.
std::string Fm::WriteMismatch() {
    record_.end = CheckEnd::Mismatch;
    auto& report = view_.Txt_IP();
    Step([&] {
        Append(report, {kCrLf,
                        "Внимание! Нет совпадения IP адреса. Подмена IP адреса в DNS службе "
                        "компьютера или локальной сети. Проверьте компьютер на вирусы и файл HOSTS.",
                        kCrLf, kCrLf});
    });
    const std::string directory = ReadRegistryDirectory(true);
    std::string path = directory;
    Step([&] { path = platform::LowerCase(path); });
    if (!Present(path)) {
        Step([&] {
            platform_.messageBox.Show("DataBasePath параметр в реестре не найден", platform::kMbInformation,
                                      "ERROR 001");
        });
    }
    Step([&] { Append(report, {"Путь к фалу HOSTS по данным системного реестра:", kCrLf, path, kCrLf}); });
    return directory;
}

// A DNS server on this computer (a loopback address) that serves the same
// hosts file echoes a tampered line: when a hosts line maps the name to an
// address that matched, the match proves nothing.
bool Fm::EchoesHostsFile(const HostName& name) {
    FindHostsLines(ReadRegistryDirectory(false), name);
    for (const auto& line : record_.hostsLines.lines) {
        const bool matched = std::find(record_.serverAddresses.begin(), record_.serverAddresses.end(),
                                       line.address) != record_.serverAddresses.end();
        if (matched && std::find(state_.HostIPs.begin(), state_.HostIPs.end(), line.address) != state_.HostIPs.end())
            return true;
    }
    return false;
}

void Fm::WriteLocalEcho(const std::string& domain) {
    WriteInconclusive();
    record_.localEcho = true;
    Step([&] {
        Append(view_.Txt_IP(), {"DNS сервер работает на этом компьютере и может отвечать по тому же файлу HOSTS: "
                                "проверьте домен другим сервером (tarnwell-check --server АДРЕС ДОМЕН).",
                                kCrLf});
    });
    WriteHostsLines(domain);
}

// The registry's hosts directory, as read: on a mismatch through a new shell
// object kept in WshShell (one that cannot be created leaves the one of an
// earlier mismatch in place); otherwise through one of its own, silently.
std::string Fm::ReadRegistryDirectory(bool keepShell) {
    std::unique_ptr<platform::Shell> own;
    Step([&] { (keepShell ? WshShell_ : own) = platform_.shells.CreateObject(platform::kShellProgId); });
    platform::Shell* shell = keepShell ? WshShell_.get() : own.get();
    std::string directory;
    Step([&] {
        if (!shell) throw Failure("no shell object");
        directory = shell->RegRead(platform::kDataBasePath);
    });
    return directory;
}

// The lines of the hosts file in `directory` that map the name the
// computer's resolver was asked for.
void Fm::FindHostsLines(const std::string& directory, const HostName& name) {
    Step([&] { record_.hostsFile = platform_.files.HostsPath(directory); });
    if (!record_.hostsFile) return;
    std::optional<std::string> bytes;
    Step([&] { bytes = platform_.files.Read(*record_.hostsFile, hosts::kMaxFileBytes); });
    record_.hostsReadable = bytes.has_value();
    if (bytes) record_.hostsLines = hosts::FindLines(*bytes, name.ace);
}

// The hosts file and its lines that map the domain, after the verdict.
void Fm::WriteHostsLines(const std::string& domain) {
    auto& report = view_.Txt_IP();
    if (!record_.hostsFile) return;
    Step([&] { Append(report, {kCrLf, "Файл HOSTS: ", *record_.hostsFile, kCrLf}); });
    const auto& found = record_.hostsLines;
    if (!record_.hostsReadable) {
        Step([&] { Append(report, {"Прочитать файл не удалось.", kCrLf}); });
        return;
    }
    for (const auto& line : found.lines) {
        Step([&] { Append(report, {"Строка ", std::to_string(line.number), ": ", line.text, kCrLf}); });
        if (line.blocking)
            Step([&] {
                Append(report, {"Домен заблокирован этой строкой (так делают списки блокировки рекламы).", kCrLf});
            });
    }
    if (found.total > found.lines.size())
        Step([&] { Append(report, {"... и ещё ", std::to_string(found.total - found.lines.size()), kCrLf}); });
    if (found.total == 0) Step([&] { Append(report, {"Строк с доменом [", domain, "] в файле нет.", kCrLf}); });
}

}  // namespace tarnwell
