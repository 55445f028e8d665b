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

// The rule is one for dotted texts; an IPv6 address may be shorter ("::1").
bool AddressPresent(const std::string& text) {
    return text.find(':') != std::string::npos ? !text.empty() : Present(text);
}

std::string ProofText(const platform::Proof& proof) {
    using platform::ProofReason;
    switch (proof.reason) {
        case ProofReason::None: return "сертификат подтверждает домен";
        case ProofReason::Name: return "сертификат не подтверждает домен (выдан для другого домена)";
        case ProofReason::Untrusted: return "сертификат не подтверждает домен (издатель не является доверенным)";
        case ProofReason::Expired: return "сертификат не подтверждает домен (срок действия истёк или не наступил)";
        case ProofReason::Error: return "сертификат не подтверждает домен (ошибка сертификата)";
        case ProofReason::Refused: return "проверить не удалось (нет соединения)";
        case ProofReason::Timeout: return "проверить не удалось (нет ответа)";
        case ProofReason::NotTls: break;
    }
    return "проверить не удалось (не HTTPS)";
}

const AddressProof* FirstWith(const std::vector<AddressProof>& proofs, platform::ProofResult result) {
    const auto found = std::find_if(proofs.begin(), proofs.end(),
                                    [&](const AddressProof& p) { return p.proof.result == result; });
    return found == proofs.end() ? nullptr : &*found;
}

std::string NoReplyText() {
    return "Нет ответа от DNS сервера. Сравнить IP адреса не удалось, повторите проверку позже.";
}

}  // namespace

Fm::Fm(platform::FmView& view, FmPlatform platform, CheckState& state)
    : replyWait(kReplyWait), proofWait(kProofWait), view_(view), platform_(platform), state_(state) {}

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

    std::string domain;
    Step([&] { domain = text::TrimSpaces(view_.Cmb1().Text()); });
    record_.domain = domain;
    // The name both lookups ask for, or a text that is no web domain,
    // refused before either. A text shorter than five characters passes
    // only as a host name ("t.me").
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
    for (const auto& a : state_.HostIPs) record_.systemAddresses.push_back(a.Text());

    if (!AddressPresent(state_.HostIP)) {
        Step([&] {
            Append(report, {"Ошибка! IP для Домена  [", domain, "] не определено", kCrLf, kCrLf,
                            "Причины:", kCrLf, "1. Отсутствует подключение к Интернет", kCrLf,
                            "2. Указанный домен не существует.", kCrLf});
        });
        record_.end = CheckEnd::ResolverFailed;
        return;
    }
    record_.systemAddress = state_.HostIP;
    Step([&] { Append(report, {state_.HostIP, kCrLf}); });
    // The IPv6 addresses a browser may try besides.
    for (const auto& a : state_.HostIPs)
        if (!a.IsV4() && a.Text() != state_.HostIP) Step([&] { Append(report, {a.Text(), kCrLf}); });
    Step([&] { Append(report, {kCrLf}); });
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
    if (!AddressPresent(server)) {
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
    for (const auto& a : answer.addresses) record_.serverAddresses.push_back(a.Text());

    const auto proofs = ProofStage(domain, name);
    // Whether a hosts line maps the name matters only to an address missing
    // from the server's; it is looked up silently.
    bool hostsLine = false;
    if (!Missing(state_.HostIPs, answer).empty()) {
        FindHostsLines(ReadRegistryDirectory(false), name);
        hostsLine = record_.hostsLines.total > 0;
    }
    switch (Decide(answer, state_.HostIPs, proofs, hostsLine)) {
        case Verdict::Match:
            if (answer.server && OnThisComputer(*answer.server) && EchoesHostsFile(name)) return WriteLocalEcho(domain);
            return WriteMatch(domain);
        case Verdict::Proven:
            return WriteProven(domain, proofs);
        case Verdict::Impostor:
            WriteImpostor(domain, proofs);
            if (!record_.hostsFile) FindHostsLines(ReadRegistryDirectory(false), name);
            break;
        case Verdict::Mismatch:
            FindHostsLines(WriteMismatch(), name);
            break;
        case Verdict::Inconclusive:
            WriteInconclusive();
            if (!record_.hostsFile) FindHostsLines(ReadRegistryDirectory(false), name);
            break;
    }
    WriteHostsLines(domain);
}

// Each of the computer's first addresses asked to prove the name over
// HTTPS, one line each as its proof comes.
std::vector<AddressProof> Fm::ProofStage(const std::string& domain, const HostName& name) {
    if (!proveAddresses || state_.HostIPs.empty()) return {};
    auto& report = view_.Txt_IP();
    Step([&] { Append(report, {kCrLf, "- Проверяем подлинность сайта [", domain, "] (Соединение HTTPS)", kCrLf}); });
    return ProveAddresses(platform_.tls, state_.HostIPs, name.ace, proofWait, [&](const AddressProof& p) {
        record_.proofs.push_back({p.address.Text(), p.proof});
        Step([&] { Append(report, {p.address.Text(), ": ", ProofText(p.proof), kCrLf}); });
    });
}

// An address that cannot prove the name: the strongest sign of substitution.
void Fm::WriteImpostor(const std::string& domain, const std::vector<AddressProof>& proofs) {
    record_.end = CheckEnd::Impostor;
    const auto* failed = FirstWith(proofs, platform::ProofResult::Failed);
    Step([&] {
        Append(view_.Txt_IP(),
               {kCrLf, "Внимание! Сайт по адресу ", failed ? failed->address.Text() : state_.HostIP,
                " не подтвердил подлинность домена [", domain,
                "]. Возможна подмена IP адреса DNS сервером или в локальной сети (роутер, провайдер, вредоносная "
                "программа). Проверьте настройки DNS на компьютере и на роутере.",
                kCrLf});
    });
}

// The addresses differ (a load balancer, a content network), but the site
// proved itself; the address named is one that did.
void Fm::WriteProven(const std::string& domain, const std::vector<AddressProof>& proofs) {
    record_.end = CheckEnd::Proven;
    const auto* proven = FirstWith(proofs, platform::ProofResult::Proven);
    Step([&] {
        Append(view_.Txt_IP(), {kCrLf, "IP адреса различаются, но сайт по адресу ",
                                proven ? proven->address.Text() : state_.HostIP, " подтвердил подлинность домена [",
                                domain, "] сертификатом. Подмены IP адреса не обнаружено."});
    });
}

// Loopback, or an address of one of the computer's own interfaces (a
// caching server on its LAN address).
bool Fm::OnThisComputer(const Address& server) {
    if (server.IsLoopback()) return true;
    std::vector<Address> own;
    Step([&] { own = platform_.sockets.InterfaceAddresses(); });
    return std::any_of(own.begin(), own.end(), [&](const Address& a) {
        return std::equal(a.Bytes().begin(), a.Bytes().end(), server.Bytes().begin(), server.Bytes().end());
    });
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

// A DNS server on this computer that serves the same hosts file echoes a
// tampered line: when a hosts line maps the name to an address that
// matched, the match proves nothing.
bool Fm::EchoesHostsFile(const HostName& name) {
    FindHostsLines(ReadRegistryDirectory(false), name);
    for (const auto& line : record_.hostsLines.lines) {
        const auto address = Address::Parse(line.address, true);
        if (address && std::find(state_.HostIPs.begin(), state_.HostIPs.end(), *address) != state_.HostIPs.end())
            return true;
    }
    return false;
}

// The server did answer: only what happened is said, not that it did not.
void Fm::WriteLocalEcho(const std::string& domain) {
    record_.end = CheckEnd::Inconclusive;
    record_.localEcho = true;
    Step([&] {
        Append(view_.Txt_IP(), {kCrLf,
                                "DNS сервер работает на этом компьютере и может отвечать по тому же файлу HOSTS: "
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
    std::optional<std::string> path;
    Step([&] { path = platform_.files.HostsPath(directory); });
    // Read once a check: again only when the registry named another directory.
    if (!path || path == record_.hostsFile) return;
    record_.hostsFile = path;
    std::optional<std::string> bytes;
    Step([&] { bytes = platform_.files.Read(*record_.hostsFile, hosts::kMaxFileBytes); });
    record_.hostsReadable = bytes.has_value();
    record_.hostsLines = {};
    if (bytes) record_.hostsLines = hosts::FindLines(*bytes, name.ace, platform_.files.Syntax());
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
