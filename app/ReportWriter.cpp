#include "app/ReportWriter.h"

#include "common/Step.h"
#include "common/Text.h"
#include "platform/CodePage.h"
#include "resolve/ProxyRules.h"

#include <type_traits>

namespace tarnwell {

namespace {

// A registry path counts as present with at least this many characters:
// anything of 4 or fewer is taken for nothing, as the empty text is.
constexpr std::size_t kPresentLength = 5;

std::string Text(const std::optional<Address>& a) { return a ? a->Text() : std::string(); }

// Why the hosts file could not be read, in the report's words.
std::string_view FaultText(platform::ReadFault fault) {
    switch (fault) {
        case platform::ReadFault::Missing: return "файла нет";
        case platform::ReadFault::Denied: return "нет доступа";
        case platform::ReadFault::Directory: return "это папка";
        case platform::ReadFault::TooLarge: return "файл слишком велик";
        case platform::ReadFault::Error: break;
    }
    return "ошибка чтения";
}

std::string_view PacErrorText(PacError error) {
    switch (error) {
        case PacError::Timeout: return "превышено время";
        case PacError::Memory: return "превышен объём памяти";
        case PacError::Script: return "ошибка в сценарии";
        default: break;
    }
    return "недопустимый ответ";
}

}  // namespace

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
        case ProofReason::Aborted: return "проверить не удалось (соединение прервано)";
        case ProofReason::Incomplete:
            return proof.result == platform::ProofResult::Failed
                       ? "сертификат не подтверждает домен (цепочка сертификатов неполна)"
                       : "проверить не удалось (цепочка сертификатов неполна)";
        case ProofReason::Internal: return "проверить не удалось (внутренняя ошибка)";
        case ProofReason::Resources: return "проверить не удалось (нет ресурсов)";
        case ProofReason::ProxyAuth: return "проверить не удалось (прокси требует авторизации)";
        case ProofReason::NotTls: break;
    }
    return "проверить не удалось (не HTTPS)";
}

void ReportWriter::On(const CheckEvent& event, const CheckRecord& r) {
    const std::string& d = r.domain;
    std::visit(
        [&](const auto& e) {
            using E = std::decay_t<decltype(e)>;
            if constexpr (std::is_same_v<E, event::Rejected>) {
                box_("Данные о домене некорректны", "Domen Error");
            } else if constexpr (std::is_same_v<E, event::Begun>) {
                write_("Начало проверки. Домен: [" + d + "]\r\n\r\n", true);
                Write("- Получаем IP адрес для домена [" + d +
                      "] от DNS службы компьютера (Эмуляция работы браузера)\r\n\r\nРезультат:\r\n");
            } else if constexpr (std::is_same_v<E, event::Resolved>) {
                const auto shown = r.SystemAddress();
                if (!shown) {
                    Write("Ошибка! IP для Домена  [" + d + "] не определено\r\n\r\nПричины:\r\n"
                          "1. Отсутствует подключение к Интернет\r\n2. Указанный домен не существует.\r\n");
                    return;
                }
                Write(shown->Text() + kCrLf);
                // The IPv6 addresses a browser may try besides.
                for (const auto& a : r.systemAddresses)
                    if (!a.IsV4() && a != *shown) Write(a.Text() + kCrLf);
                Write(kCrLf);
            } else if constexpr (std::is_same_v<E, event::ProxyFound>) {
                ProxyBlock(r);
            } else if constexpr (std::is_same_v<E, event::QueryBegun>) {
                Write("- Получаем IP " + d + " (Прямой запрос на DNS сервер)\r\n");
            } else if constexpr (std::is_same_v<E, event::ServiceMissing>) {
                box_("Iphlpapi.dll load error", "Error 001");
            } else if constexpr (std::is_same_v<E, event::NoServer>) {
                box_("DNS сервер не определен", "Error 002");
            } else if constexpr (std::is_same_v<E, event::ServerChosen>) {
                Write("DNS сервер определен: " + Text(r.server) + "\r\n\r\nРезультат:\r\n");
            } else if constexpr (std::is_same_v<E, event::ServerAddress>) {
                Write(e.address.Text() + kCrLf);
            } else if constexpr (std::is_same_v<E, event::ProofBegun>) {
                Write("\r\n- Проверяем подлинность сайта [" + d + "] (Соединение HTTPS)\r\n");
            } else if constexpr (std::is_same_v<E, event::Proved>) {
                const auto& p = r.proofs.at(e.index);
                const bool via = p.via.scheme != platform::ProxyScheme::Direct;
                Write((via ? "через прокси " + proxy::HostPort(p.via) : p.address.Text()) + ": " + ProofText(p.proof) +
                      kCrLf);
            } else if constexpr (std::is_same_v<E, event::Witnessed>) {
                WitnessBlock(r);
            } else if constexpr (std::is_same_v<E, event::Concluded>) {
                // The witnesses stood in for a server that gave no usable reply.
                if (r.judgement.witnessStoodIn)
                    Write("\r\nDNS сервер не ответил, адреса сверены с независимым DNS сервером [" + r.witness->named +
                          "]\r\n");
                Conclusion(r);
            } else if constexpr (std::is_same_v<E, event::RegistryRead>) {
                std::string path = e.directory;
                Step([&] { path = platform::LowerCase(path); });
                if (text::CharCount(path) < kPresentLength) box_("DataBasePath параметр в реестре не найден", "ERROR 001");
                Write("Путь к фалу HOSTS по данным системного реестра:\r\n" + path + kCrLf);
            } else if constexpr (std::is_same_v<E, event::HostsRead>) {
                HostsBlock(r);
            }
        },
        event);
}

namespace {

// The words inside a proof line's parentheses.
std::string Reason(const AddressProof* p) {
    const std::string line = p ? ProofText(p->proof) : "";
    const auto open = line.find('('), close = line.rfind(')');
    return open == std::string::npos || close < open ? line : line.substr(open + 1, close - open - 1);
}

constexpr char kCheckDns[] = " Проверьте настройки DNS на компьютере и на роутере.";
constexpr char kCheckProxy[] = " Проверьте настройки прокси на компьютере.";

// Where the proxy the browser takes is set, in full but for a user:password@ part.
std::string ProxySetting(const ProxyRecord& p) {
    const auto& s = p.settings;
    const bool variable = s.origin == platform::ProxyOrigin::Environment;
    const std::string holder = variable ? "переменная окружения " : "настройки системы: " + s.where + ", ";
    switch (p.source) {
        case ProxySource::Variable: return holder + p.httpsFrom + "=" + proxy::WithoutCredentials(s.https);
        case ProxySource::System: return holder + p.httpsFrom + " = " + proxy::WithoutCredentials(s.https);
        case ProxySource::AutoConfig: return "файл автонастройки " + p.pacUrl + " (" + holder + s.pacName + ")";
        case ProxySource::Wpad: break;
    }
    return "автоопределение WPAD, файл автонастройки " + p.pacUrl;
}

// Why the road through the proxy leaves the site unconfirmed.
std::string Undecided(const CheckRecord& r) {
    const std::string head = "\r\nПодтвердить сайт [" + r.domain + "] не удалось: ";
    const auto& p = *r.proxy;
    switch (r.judgement.doubt) {
        case ProxyDoubt::Silent: {
            const auto* via = r.DecisiveProxy();
            const bool password = via && via->proof.reason == platform::ProofReason::ProxyAuth;
            return head + "браузер открывает его через прокси " + (via ? proxy::HostPort(via->via) : "") +
                   (password ? ", а прокси требует авторизации" : ", а прокси не ответил") +
                   ". Повторите проверку позже или проверьте настройки прокси на компьютере.";
        }
        case ProxyDoubt::NoProof:
            return head + "браузер открывает его через прокси " + proxy::HostPort(p.entries.front()) +
                   ", а проверка HTTPS отключена (--no-proof).";
        case ProxyDoubt::Unknown:
            return head + "браузер открывает его по файлу автонастройки прокси " + p.pacUrl + ", а " +
                   (p.error == PacError::Unreachable ? std::string("файл недоступен")
                                                     : "в файле ошибка (" + std::string(PacErrorText(p.error)) + ")") +
                   ". Повторите проверку позже или проверьте настройки прокси на компьютере.";
        case ProxyDoubt::Differs:
            return head + "для http:// и https:// браузер выбирает разные пути." + kCheckProxy;
        default: break;
    }
    return head + "прокси браузера не проверялся (proxy = off)." + kCheckProxy;
}

}  // namespace

void ReportWriter::Conclusion(const CheckRecord& r) {
    const std::string& d = r.domain;
    const std::string address = Text(r.Decisive() ? r.Decisive() : r.SystemAddress());
    const std::string witnesses = r.DecisiveWitnesses();
    switch (r.end) {
        case CheckEnd::Match:
            return Write("\r\nIP адреса совпадают. Проблем связанных с доменом [" + d + "] не обнаружено.");
        case CheckEnd::Proven:
            // The addresses differ (a load balancer, a content network), but
            // the site proved itself; the address named is one that did.
            // No usable reply: no difference was seen, only the proof.
            if (!r.rcode)
                return Write("\r\nDNS сервер не ответил, но сайт по адресу " + address + " подтвердил подлинность домена [" +
                             d + "] сертификатом. Подмены IP адреса не обнаружено.\r\n");
            return Write("\r\nIP адреса различаются, но сайт по адресу " + address + " подтвердил подлинность домена [" +
                         d + "] сертификатом. Подмены IP адреса не обнаружено.");
        case CheckEnd::Impostor:
            if (const auto* via = r.DecisiveProxy()) {
                Write("\r\nВнимание! Сайт [" + d + "] через прокси " + proxy::HostPort(via->via) +
                      " не подтвердил подлинность домена (" + Reason(via) +
                      "). Возможна подмена сайта прокси-сервером (вредоносная программа или чужие настройки прокси). "
                      "Проверьте настройки прокси на компьютере.\r\n");
                return Write("Прокси задан: " + ProxySetting(*r.proxy) + kCrLf);
            }
            return Write("\r\nВнимание! Сайт по адресу " + address + " не подтвердил подлинность домена [" + d +
                         "]. Возможна подмена IP адреса DNS сервером или в локальной сети (роутер, провайдер, "
                         "вредоносная программа)." + kCheckDns + "\r\n");
        case CheckEnd::Blocked:
            return Write("\r\nВнимание! Для домена [" + d + "] получен адрес " + address +
                         ": это сам компьютер, а не сайт. Адрес домена подменён (роутер, провайдер, вредоносная "
                         "программа) или домен заблокирован." + kCheckDns + "\r\n");
        case CheckEnd::Filtered:
            return Write("\r\nDNS сервер возвращает для домена [" + d + "] адрес " + address +
                         ": домен заблокирован DNS сервером (так отвечают фильтры рекламы и родительский контроль). "
                         "Если вы не настраивали блокировку, проверьте настройки DNS на компьютере и на роутере.\r\n");
        case CheckEnd::Unproven:
            return Write("\r\nСайт по адресу " + address + " не подтвердил подлинность домена [" + d + "] (" +
                         Reason(r.Decisive() ? r.ProofOf(*r.Decisive()) : nullptr) +
                         "), но независимый DNS сервер [" + witnesses +
                         "] подтверждает этот адрес: у сайта нет действующего сертификата для этого домена, или "
                         "соединение с ним перехватывается. Не вводите на этом сайте пароли и данные банковских "
                         "карт.\r\n");
        case CheckEnd::Disputed:
            return Write("\r\nВнимание! Независимый DNS сервер [" + witnesses + "] не подтверждает адрес " + address +
                         " для домена [" + d +
                         "], а сайт по этому адресу не подтвердил подлинность домена. Возможна подмена IP адреса DNS "
                         "сервером или в локальной сети (роутер, провайдер, вредоносная программа)." + kCheckDns +
                         "\r\n");
        case CheckEnd::Unconfirmed:
            return Write("\r\nПодтвердить адрес " + address +
                         " не удалось: сайт по этому адресу не подтвердил подлинность домена [" + d +
                         "] по HTTPS, а независимый DNS сервер [" + witnesses + "] этого адреса не знает. Если сайт [" +
                         d + "] открывается в браузере без HTTPS, не вводите на нём пароли. Повторите проверку позже "
                         "или проверьте настройки DNS на компьютере и на роутере.\r\n");
        case CheckEnd::Unverified:
            if (r.judgement.doubt != ProxyDoubt::None) return Write(Undecided(r) + kCrLf);
            // Some witness answered, but not whole for this address's family.
            if (r.witness && !r.witness->answered.empty())
                return Write("\r\nПодтвердить адрес " + address +
                             " не удалось: сайт по этому адресу не подтвердил подлинность домена [" + d +
                             "] по HTTPS, а независимые DNS серверы не прислали полного ответа для адресов " +
                             (r.Decisive() && r.Decisive()->IsV4() ? "IPv4" : "IPv6") +
                             ". Повторите проверку позже или проверьте настройки DNS на компьютере и на роутере.\r\n");
            return Write("\r\nПодтвердить адреса не удалось: сайт не подтвердил подлинность домена [" + d +
                         "] по HTTPS, а независимые DNS серверы недоступны. Повторите проверку позже или проверьте "
                         "настройки DNS на компьютере и на роутере.\r\n");
        case CheckEnd::Mismatch:
            return Write("\r\nВнимание! Нет совпадения IP адреса. Подмена IP адреса в DNS службе компьютера или "
                         "локальной сети. Проверьте компьютер на вирусы и файл HOSTS.\r\n\r\n");
        case CheckEnd::Inconclusive:
            // The server did answer: only what happened is said, not that it did not.
            if (r.judgement.verdict == Verdict::LocalEcho)
                return Write("\r\nDNS сервер работает на этом компьютере и может отвечать по тому же файлу HOSTS: "
                             "проверьте домен другим сервером (tarnwell-check --server АДРЕС ДОМЕН).\r\n");
            // No usable, complete reply is no evidence of substitution.
            return Write("\r\nНет ответа от DNS сервера. Сравнить IP адреса не удалось, повторите проверку позже.\r\n");
        default:
            return;
    }
}

namespace {

// Where a list of proxies came from, in the report's words.
std::string SourceText(const ProxyRecord& p, const std::string& from) {
    switch (p.source) {
        case ProxySource::Variable: return "переменная окружения " + from;
        case ProxySource::AutoConfig: return "файл автонастройки " + p.pacUrl;
        case ProxySource::System: return "настройки системы";
        case ProxySource::Wpad: break;
    }
    return "автоопределение WPAD";
}

std::string EntryText(const platform::ProxyEntry& e) {
    return e.scheme == platform::ProxyScheme::Direct ? "Без прокси" : proxy::EntryText(e);
}


}  // namespace

// The browser's proxy for the domain, after the resolver's block.
void ReportWriter::ProxyBlock(const CheckRecord& r) {
    const auto& p = *r.proxy;
    Write("- Проверяем прокси браузера\r\n");
    if (!p.checked) return Write("Прокси не проверялся (proxy = off)\r\n\r\n");
    if (p.error == PacError::Unreachable)
        Write("Файл автонастройки прокси недоступен: " + p.pacUrl + kCrLf);
    else if (p.error != PacError::None)
        Write("Ошибка в файле автонастройки прокси: " + p.pacUrl + " (" + std::string(PacErrorText(p.error)) + ")" +
              kCrLf);
    const std::string source = SourceText(p, p.httpsFrom);
    for (const auto& e : p.entries)
        Write(e.scheme == platform::ProxyScheme::Direct ? "Без прокси (" + source + ")" + kCrLf
                                                         : "Прокси: " + EntryText(e) + " (" + source + ")" + kCrLf);
    if (p.Differs()) {
        std::string road;
        for (const auto& e : p.httpEntries) road += (road.empty() ? "" : "; ") + EntryText(e);
        Write("Для http://" + r.domain + "/ браузер выбирает другой путь: " + road + kCrLf);
    }
    if (p.othersDirect && p.Proxied()) Write("Другие сайты открываются без прокси\r\n");
    Write(kCrLf);
}

// What the witnesses said, after the proofs.
void ReportWriter::WitnessBlock(const CheckRecord& r) {
    const auto& w = *r.witness;
    Write("\r\n- Сверяем с независимым DNS сервером [" + w.named + "] (DNS через HTTPS)\r\n");
    if (!w.addresses.empty() || w.result == WitnessResult::Answered) {
        Write("Результат:\r\n");
        for (const auto& a : w.addresses) Write(a.Text() + kCrLf);
        return;
    }
    switch (w.result) {
        case WitnessResult::NxDomain: return Write("Независимый DNS сервер не знает домена\r\n");
        case WitnessResult::Untrusted: return Write("Независимый DNS сервер недоступен (ошибка сертификата)\r\n");
        case WitnessResult::Error: return Write("Независимый DNS сервер недоступен (ошибка)\r\n");
        default: return Write("Независимый DNS сервер не ответил\r\n");
    }
}

// The hosts file and its lines that map the domain, after the verdict.
void ReportWriter::HostsBlock(const CheckRecord& r) {
    if (!r.hostsFile) return;
    if (r.hostsFault)
        return Write("\r\nФайл HOSTS прочитать не удалось: " + *r.hostsFile + " (" +
                     std::string(FaultText(*r.hostsFault)) + ")" + kCrLf);
    Write("\r\nФайл HOSTS: " + *r.hostsFile + kCrLf);
    const auto& found = r.hostsLines;
    for (const auto& line : found.lines) {
        Write("Строка " + std::to_string(line.number) + ": " + line.text + kCrLf);
        if (line.blocking) Write("Домен заблокирован этой строкой (так делают списки блокировки рекламы).\r\n");
    }
    if (found.total > found.lines.size()) Write("... и ещё " + std::to_string(found.total - found.lines.size()) + kCrLf);
    if (found.total == 0) Write("Строк с доменом [" + r.domain + "] в файле нет.\r\n");
}

}  // namespace tarnwell
