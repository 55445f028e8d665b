// The check against fakes of the platform: one table of endings, each run in
// the window right after a matching check (CRLF report, boxes, how the check
// ended) and through the console checker (LF report, stderr, exit status).
#include "app/ConsoleCheck.h"
#include "app/FmLayout.h"
#include "resolve/DirectQuery.h"
#include "tests/Rows.h"
#include "tests/fakes/Fakes.h"

#include "app/CheckOutput.h"
#include <nlohmann/json.hpp>

#include <fstream>
#include <regex>
#include <sstream>
#include <thread>

namespace tarnwell {
namespace {

using fakes::A;
using fakes::As;
using fakes::Bytes;

std::string Head(const std::string& d) {
    return "Начало проверки. Домен: [" + d + "]\r\n\r\n- Получаем IP адрес для домена [" + d +
           "] от DNS службы компьютера (Эмуляция работы браузера)\r\n\r\nРезультат:\r\n";
}
// Up to the server's answers, after the resolver's lines.
std::string Resolved(const std::string& d, const std::string& lines, const std::string& server = "10.0.0.53",
                     const std::string& proxy = "") {
    return Head(d) + lines + "\r\n" + proxy + "- Получаем IP " + d + " (Прямой запрос на DNS сервер)\r\n" +
           (server.empty() ? "" : "DNS сервер определен: " + server + "\r\n\r\nРезультат:\r\n");
}
std::string Direct(const std::string& d) { return Resolved(d, "93.184.216.34\r\n", ""); }
std::string Server(const std::string& d, const std::string& server = "10.0.0.53") {
    return Resolved(d, "93.184.216.34\r\n", server);
}
// The proof block, a line per address.
std::string Proofs(std::vector<std::string> lines, const std::string& d = "example.com") {
    std::string s = "\r\n- Проверяем подлинность сайта [" + d + "] (Соединение HTTPS)\r\n";
    for (const auto& line : lines) s += line + "\r\n";
    return s;
}
std::string Impostor(const std::string& address) {
    return "\r\nВнимание! Сайт по адресу " + address + " не подтвердил подлинность домена [example.com]. Возможна "
           "подмена IP адреса DNS сервером или в локальной сети (роутер, провайдер, вредоносная программа). Проверьте "
           "настройки DNS на компьютере и на роутере.\r\n";
}
const std::string kProvenText = "\r\nIP адреса различаются, но сайт по адресу 93.184.216.34 подтвердил подлинность "
                                "домена [example.com] сертификатом. Подмены IP адреса не обнаружено.";
const std::string kNoHttps = "93.184.216.34: проверить не удалось (нет соединения)";
const std::string kProvenLine = "93.184.216.34: сертификат подтверждает домен";
constexpr platform::Proof kProven{platform::ProofResult::Proven, platform::ProofReason::None};
std::string Match(const std::string& d) {
    return "\r\nIP адреса совпадают. Проблем связанных с доменом [" + d + "] не обнаружено.";
}
const std::string kWarning =
    "\r\nВнимание! Нет совпадения IP адреса. Подмена IP адреса в DNS службе компьютера или локальной "
    "сети. Проверьте компьютер на вирусы и файл HOSTS.\r\n\r\nПуть к фалу HOSTS по данным системного реестра:\r\n";
// The hosts file's block; the fake's file holds no line for example.com.
const std::string kFile = "\r\nФайл HOSTS: C:\\WINDOWS\\System32\\drivers\\etc\\hosts\r\n";
const std::string kNoLine = kFile + "Строк с доменом [example.com] в файле нет.\r\n";
const std::string kHosts = kWarning + "c:\\windows\\system32\\drivers\\etc\r\n" + kNoLine;
const std::string kNoReplyBlock =
    "\r\nНет ответа от DNS сервера. Сравнить IP адреса не удалось, повторите проверку позже.\r\n";
const std::string kNoReply = kNoReplyBlock + kNoLine;
std::string Unread(const std::string& why) {  // the block when the fake's file cannot be read
    return "\r\nФайл HOSTS прочитать не удалось: C:\\WINDOWS\\System32\\drivers\\etc\\hosts (" + why + ")\r\n";
}
const std::string kBlocked = "Домен заблокирован этой строкой (так делают списки блокировки рекламы).\r\n";
// A hosts file of `lines` lines that block example.com; with `shown`, the
// report's lines of it: those shown, then how many more.
std::string Blocking(int lines, int shown = 0) {
    std::string s;
    for (int n = 1; n <= (shown ? shown : lines); ++n)
        s += shown ? "Строка " + std::to_string(n) + ": 0.0.0.0 example.com\r\n" + kBlocked : "0.0.0.0 example.com\n";
    return shown ? s + "... и ещё " + std::to_string(lines - shown) + "\r\n" : s;
}
std::string Reasons(const std::string& d) {
    return Head(d) + "Ошибка! IP для Домена  [" + d + "] не определено\r\n\r\nПричины:\r\n" +
           "1. Отсутствует подключение к Интернет\r\n2. Указанный домен не существует.\r\n";
}
const std::string kDomenError = "Domen Error: Данные о домене некорректны";
const std::string kEx = "example.com";

const std::string kNotSent = "tarnwell-check: no query was sent to the DNS server";
Bytes Truncated(Bytes d) { return d[2] |= 0x02, d; }
Bytes ARecord(const char* a) { return fakes::AddressRecord(A(a)); }
// The platform's server answers every query with the one datagram `reply` makes of it.
template <class Reply>
auto Replying(Reply reply) {
    return [=](fakes::Platform& p) { p.sockets.server = [=](const Bytes& q) mutable { return std::vector<Bytes>{reply(q)}; }; };
}
// The platform's server answers every query with these records.
auto Records(std::vector<Bytes> records) { return Replying([=](const Bytes& q) { return fakes::ReplyTo(q, records); }); }

// The settings' witness 192.0.2.53 gives `zone` (NXDOMAIN when empty) or ends its posts so.
const std::string kWitness = fakes::kWitnessUrl;
auto Witnessing(std::vector<Address> zone, std::optional<platform::HttpsEnd> end = {}) {
    return [=](fakes::Platform& p) { p.http.zone[kWitness] = zone, end ? void(p.http.ends[kWitness] = *end) : void(); };
}
const std::string kAsking = "\r\n- Сверяем с независимым DNS сервером [192.0.2.53] (DNS через HTTPS)\r\n";
const std::string kAgreed = kAsking + "Результат:\r\n93.184.216.34\r\n";  // the fake's witness, asked
std::string Asked(const std::string& lines) { return Server(kEx) + "93.184.216.34\r\n" + Proofs({kNoHttps}) + kAsking + lines; }
std::string Disputed(const std::string& address, const std::string& hosts = kNoLine) {
    return "\r\nВнимание! Независимый DNS сервер [192.0.2.53] не подтверждает адрес " + address + " для домена [example.com], "
        "а сайт по этому адресу не подтвердил подлинность домена. Возможна подмена IP адреса DNS сервером или в локальной сети "
        "(роутер, провайдер, вредоносная программа). Проверьте настройки DNS на компьютере и на роутере.\r\n" + hosts;
}
const std::string kUnverified = "\r\nПодтвердить адреса не удалось: сайт не подтвердил подлинность домена [example.com] по "
    "HTTPS, а независимые DNS серверы недоступны. Повторите проверку позже или проверьте настройки DNS на компьютере и на "
    "роутере.\r\n" + kNoLine;

const std::string kNoWholeV4 = "\r\nПодтвердить адрес 93.184.216.34 не удалось: сайт по этому адресу не подтвердил подлинность "
    "домена [example.com] по HTTPS, а независимые DNS серверы не прислали полного ответа для адресов IPv4. Повторите проверку "
    "позже или проверьте настройки DNS на компьютере и на роутере.\r\n" + kNoLine;

// bank.test resolves as example.com does, under the browser's proxy `settings`; the PAC file
// at kPacUrl (with credentials in the settings' URL) is `script`.
const std::string kPacUrl = "http://192.0.2.9/proxy.pac", kBank = "bank.test";
auto Proxied(platform::ProxySettings::Mode mode, std::string script = "", bool off = false, std::string bypass = "") {
    return [=](fakes::Platform& p) {
        p.sockets.hosts[kBank] = {A("93.184.216.34")};
        auto& set = p.proxy.settings;
        set = {mode, platform::ProxyOrigin::Desktop, "org.gnome.system.proxy"};
        set.pacUrl = "http://u:pw@192.0.2.9/proxy.pac";
        if (mode == platform::ProxySettings::Mode::Manual)
            set = {mode, platform::ProxyOrigin::Environment, "https_proxy", "http://u:pw@192.0.2.8:3128", "https_proxy",
                   "", "", bypass};
        if (!script.empty()) p.http.gets[set.pacUrl] = {platform::GetEnd::Reply, script};
        if (off) p.files.settings["/home/t.conf"] = "proxy = off\n";
    };
}
// The report of bank.test with the proxy block's `lines`: a match, or unverified for `why`.
std::string ProxyReport(const std::string& lines, const std::string& why = "") {
    return Resolved(kBank, "93.184.216.34\r\n", "10.0.0.53", "- Проверяем прокси браузера\r\n" + lines + "\r\n") +
           "93.184.216.34\r\n" +
           (why.empty() ? Match(kBank)
                        : "\r\nПодтвердить сайт [bank.test] не удалось: " + why + "\r\n" + kFile +
                              "Строк с доменом [bank.test] в файле нет.\r\n");
}
const std::string kDiffer = "для http:// и https:// браузер выбирает разные пути. Проверьте настройки прокси на компьютере.";
std::string PacFailed(const std::string& what) {
    return "браузер открывает его по файлу автонастройки прокси " + kPacUrl + ", а " + what +
           ". Повторите проверку позже или проверьте настройки прокси на компьютере.";
}
const std::string kByPac = " (файл автонастройки " + kPacUrl + ")\r\n";
// bank.test through the environment's proxy 192.0.2.8:3128 for https and http: the site's address and the
// proxy's tunnel prove as `direct` and `through` say.
auto Through(platform::Proof direct, platform::Proof through) {
    return [=](fakes::Platform& p) {
        Proxied(platform::ProxySettings::Mode::Manual)(p);
        p.proxy.settings.http = p.proxy.settings.https, p.proxy.settings.httpName = "http_proxy";
        p.tls.proofs = {{"93.184.216.34", direct}, {"via 192.0.2.8:3128", through}};
    };
}
// bank.test's report through that proxy, to the proof block's `lines` and the conclusion `end`.
std::string ThroughReport(const std::string& lines, const std::string& end) {
    return Resolved(kBank, "93.184.216.34\r\n", "10.0.0.53",
                    "- Проверяем прокси браузера\r\nПрокси: HTTP 192.0.2.8:3128 (переменная окружения https_proxy)\r\n\r\n") +
           "93.184.216.34\r\n" + Proofs({lines}, kBank) + end;
}
const std::string kBankLines = kFile + "Строк с доменом [bank.test] в файле нет.\r\n";
const std::string kOther = "сертификат не подтверждает домен (выдан для другого домена)";
std::string Pac(const std::string& body) { return "function FindProxyForURL(url, host) { " + body + " }"; }

struct Ending {
    const char* name;
    std::string text;                                  // the domain box
    std::function<void(fakes::Platform&)> setUp;
    std::string report;                                // CRLF
    std::vector<std::string> boxes;
    CheckEnd end;
    int status;
    std::string consoleNote = "";  // a line on the console's stderr after the boxes
    bool proof = false;            // with the HTTPS proof; the others run without
};

// The computer, the server and the witness agree on 93.184.216.34; the site's proof decides.
Ending ProofRow(const char* name, platform::ProofResult result, platform::ProofReason reason, const std::string& line) {
    const bool failed = result == platform::ProofResult::Failed;
    const std::string why = line.substr(line.find('(') + 1, line.size() - line.find('(') - 2);
    return {name, kEx, [=](auto& p) { p.tls.proofs["93.184.216.34"] = {result, reason}; },
            Server(kEx) + "93.184.216.34\r\n" + Proofs({"93.184.216.34: " + line}) + kAgreed +
                (failed ? "\r\nСайт по адресу 93.184.216.34 не подтвердил подлинность домена [example.com] (" + why +
                              "), но независимый DNS сервер [192.0.2.53] подтверждает этот адрес: у сайта нет действующего "
                              "сертификата для этого домена, или соединение с ним перехватывается. Не вводите на этом сайте "
                              "пароли и данные банковских карт.\r\n" + kNoLine : Match(kEx)),
            {}, failed ? CheckEnd::Unproven : CheckEnd::Match, failed ? 3 : 0, "", true};
}
const std::string k34And6 = "93.184.216.34\r\n2001:db8::34\r\n";
void DualStack(fakes::Platform& p, std::vector<Address> server) {
    p.sockets.hosts["example.com"] = {A("93.184.216.34"), A("2001:db8::34")}, p.Answer(server);
}
// Dual stack; the server's A answer is `a`, its AAAA answer 15 octets long (incomplete).
auto Aaaa15(const char* a) {
    return [a](fakes::Platform& p) {
        DualStack(p, {}), Replying([a](const Bytes& q) {
            return fakes::ReplyTo(q, {fakes::AsksAaaa(q) ? fakes::Record(28, 1, Bytes(15, 1)) : fakes::AddressRecord(A(a))});
        })(p);
    };
}
const std::vector<Address> kFive = {A("93.184.216.34"), A("2001:db8::1"), A("2001:db8::2"), A("2001:db8::3"), A("2001:db8::4")};
const std::string kFiveLines = "93.184.216.34\r\n2001:db8::1\r\n2001:db8::2\r\n2001:db8::3\r\n2001:db8::4\r\n";

// What a server on this computer that may serve the hosts file makes the report say.
const std::string kEcho = "\r\nDNS сервер работает на этом компьютере и может отвечать по тому же файлу HOSTS: проверьте "
                          "домен другим сервером (tarnwell-check --server АДРЕС ДОМЕН).\r\n" + kFile;
const std::string kEchoed = "Строка 1: 93.184.216.34 example.com\r\n";
const std::string kLower = "c:\\windows\\system32\\drivers\\etc\r\n";
using platform::ProofResult, platform::ProofReason, platform::ReadFault;

const Ending kEndings[] = {
    {"proxy: a variable names one for https only", kBank, Proxied(platform::ProxySettings::Mode::Manual),
     ProxyReport("Прокси: HTTP 192.0.2.8:3128 (переменная окружения https_proxy)\r\nДля http://bank.test/ браузер "
                 "выбирает другой путь: Без прокси\r\n", kDiffer),
     {}, CheckEnd::Unverified, 3},
    {"proxy: no_proxy covers the domain", kBank, Proxied(platform::ProxySettings::Mode::Manual, "", false, "example.org .test"),
     ProxyReport("Без прокси (переменная окружения no_proxy)\r\n"), {}, CheckEnd::Match, 0},
    {"proxy: a PAC file sends the bank alone through a proxy", kBank,
     Proxied(platform::ProxySettings::Mode::AutoConfig,
             Pac("return shExpMatch(host, '*bank*') ? 'PROXY 192.0.2.8:3128; DIRECT' : 'DIRECT';")),
     ProxyReport("Прокси: HTTP 192.0.2.8:3128" + kByPac + "Без прокси" + kByPac + "Другие сайты открываются без прокси\r\n",
                 "браузер открывает его через прокси 192.0.2.8:3128, а проверка HTTPS отключена (--no-proof)."),
     {}, CheckEnd::Unverified, 3},
    {"proxy: a PAC file treats http apart", kBank,
     Proxied(platform::ProxySettings::Mode::AutoConfig,
             Pac("return url.substring(0, 6) == 'https:' ? 'DIRECT' : 'SOCKS5 [2001:db8::8]:1080';")),
     ProxyReport("Без прокси" + kByPac + "Для http://bank.test/ браузер выбирает другой путь: SOCKS5 [2001:db8::8]:1080\r\n",
                 kDiffer), {}, CheckEnd::Unverified, 3},
    {"proxy: WPAD finds no file: nothing set", kBank, Proxied(platform::ProxySettings::Mode::AutoDetect),
     Resolved(kBank, "93.184.216.34\r\n") + "93.184.216.34\r\n" + Match(kBank), {}, CheckEnd::Match, 0},
    {"proxy: the auto-config file unreachable", kBank, Proxied(platform::ProxySettings::Mode::AutoConfig),
     ProxyReport("Файл автонастройки прокси недоступен: " + kPacUrl + "\r\n", PacFailed("файл недоступен")), {},
     CheckEnd::Unverified, 3},
    {"proxy: a PAC file that throws", kBank, Proxied(platform::ProxySettings::Mode::AutoConfig, Pac("throw 'x';")),
     ProxyReport("Ошибка в файле автонастройки прокси: " + kPacUrl + " (ошибка в сценарии)\r\n",
                 PacFailed("в файле ошибка (ошибка в сценарии)")), {}, CheckEnd::Unverified, 3},
    {"proxy: a PAC file's junk answer", kBank, Proxied(platform::ProxySettings::Mode::AutoConfig, Pac("return 'PROXY';")),
     ProxyReport("Ошибка в файле автонастройки прокси: " + kPacUrl + " (недопустимый ответ)\r\n",
                 PacFailed("в файле ошибка (недопустимый ответ)")), {}, CheckEnd::Unverified, 3},
    {"proof through a substituting proxy", kBank, Through(kProven, platform::Failed(platform::ProofReason::Name)),
     ThroughReport("93.184.216.34: сертификат подтверждает домен\r\nчерез прокси 192.0.2.8:3128: " + kOther,
                   "\r\nВнимание! Сайт [bank.test] через прокси 192.0.2.8:3128 не подтвердил подлинность домена (выдан для "
                   "другого домена). Возможна подмена сайта прокси-сервером (вредоносная программа или чужие настройки "
                   "прокси). Проверьте настройки прокси на компьютере.\r\nПрокси задан: переменная окружения "
                   "https_proxy=http://192.0.2.8:3128\r\n" + kBankLines), {}, CheckEnd::Impostor, 1, "", true},
    {"proof through an honest relay: the direct address unused", kBank,
     Through(platform::Unknown(platform::ProofReason::Refused), kProven),
     ThroughReport(kNoHttps + "\r\nчерез прокси 192.0.2.8:3128: сертификат подтверждает домен", Match(kBank)), {},
     CheckEnd::Match, 0, "", true},
    {"proof through a proxy that wants a password", kBank, Through(kProven, platform::Unknown(platform::ProofReason::ProxyAuth)),
     ThroughReport(kProvenLine + "\r\nчерез прокси 192.0.2.8:3128: проверить не удалось (прокси требует авторизации)",
                   "\r\nПодтвердить сайт [bank.test] не удалось: браузер открывает его через прокси 192.0.2.8:3128, а прокси "
                   "требует авторизации. Повторите проверку позже или проверьте настройки прокси на компьютере.\r\n" +
                       kBankLines),
     {}, CheckEnd::Unverified, 3, "", true},
    {"proof: an HTTP-only shared host through an honest proxy, the witness asked through it", kBank,
     Through(platform::Failed(platform::ProofReason::Name), platform::Failed(platform::ProofReason::Name)),
     ThroughReport("93.184.216.34: " + kOther + "\r\nчерез прокси 192.0.2.8:3128: " + kOther,
                   kAgreed + "\r\nСайт по адресу 93.184.216.34 не подтвердил подлинность домена [bank.test] (выдан для "
                   "другого домена), но независимый DNS сервер [192.0.2.53] подтверждает этот адрес: у сайта нет "
                   "действующего сертификата для этого домена, или соединение с ним перехватывается. Не вводите на этом "
                   "сайте пароли и данные банковских карт.\r\n" + kBankLines), {}, CheckEnd::Unproven, 3, "", true},
    {"proxy = off: the settings only read", kBank, Proxied(platform::ProxySettings::Mode::AutoConfig, Pac("return 1;"), true),
     ProxyReport("Прокси не проверялся (proxy = off)\r\n", "прокси браузера не проверялся (proxy = off). Проверьте "
                 "настройки прокси на компьютере."), {}, CheckEnd::Unverified, 3},
    {"match among several", kEx, [](auto& p) { p.Answer({A("10.1.1.1"), A("93.184.216.34")}); },
     Server(kEx) + "10.1.1.1\r\n93.184.216.34\r\n" + Match(kEx), {}, CheckEnd::Match, 0},
    {"mismatch", kEx, [](auto& p) { p.Answer({A("10.1.1.1")}); }, Server(kEx) + "10.1.1.1\r\n" + kHosts, {},
     CheckEnd::Mismatch, 1},
    {"NXDOMAIN for a name only the hosts file knows", kEx, [](auto& p) { p.Answer({}, 3); }, Server(kEx) + kHosts, {},
     CheckEnd::Mismatch, 1},
    {"round robin: the second reply has it", kEx, [](auto& p) { p.Answers({{A("10.1.1.1")}, {A("93.184.216.34")}}); },
     Server(kEx) + "10.1.1.1\r\n93.184.216.34\r\n" + Match(kEx), {}, CheckEnd::Match, 0},
    {"three replies disagree, each address once, no fourth query", kEx,
     [](auto& p) { p.Answers({{A("10.1.1.1")}, {A("10.1.1.2"), A("10.1.1.1")}, {A("10.1.1.1")}, {A("93.184.216.34")}}); },
     Server(kEx) + "10.1.1.1\r\n10.1.1.2\r\n" + kHosts, {}, CheckEnd::Mismatch, 1},
    {"a genuine second address behind a substituted first", kEx,
     [](auto& p) { p.sockets.hosts[kEx] = {A("10.9.9.9"), A("93.184.216.34")}, p.Answer({A("93.184.216.34")}); },
     Resolved(kEx, "10.9.9.9\r\n") + "93.184.216.34\r\n" + kHosts, {}, CheckEnd::Mismatch, 1},
    {"registry value missing", kEx, [](auto& p) { p.Answer({A("10.1.1.1")}), p.shells.value.reset(); },
     Server(kEx) + "10.1.1.1\r\n" + kWarning + "\r\n\r\nФайл HOSTS: \\hosts\r\nСтрок с доменом [example.com] в файле нет.\r\n",
     {"ERROR 001: DataBasePath параметр в реестре не найден"}, CheckEnd::Mismatch, 1},
    {"the hosts file's lines", kEx, [](auto& p) {
         p.Answer({A("10.1.1.1")}), p.files.hosts = "# x\n93.184.216.34 example.com\r\n0.0.0.0\tEXAMPLE.com ads.test # ads\n";
     }, Server(kEx) + "10.1.1.1\r\n" + kWarning + kLower + kFile + "Строка 2: 93.184.216.34 example.com\r\n"
        "Строка 3: 0.0.0.0\tEXAMPLE.com ads.test\r\n" + kBlocked, {}, CheckEnd::Mismatch, 1},
    {"more than twenty hosts lines", kEx, [](auto& p) { p.sockets.server = nullptr, p.files.hosts = Blocking(22); },
     Server(kEx) + kNoReplyBlock + kFile + Blocking(22, 20), {}, CheckEnd::Inconclusive, 3},
    {"hosts is a folder", kEx, [](auto& p) { p.sockets.server = nullptr, p.files.hosts = ReadFault::Directory; },
     Server(kEx) + kNoReplyBlock + Unread("это папка"), {}, CheckEnd::Inconclusive, 3},
    {"a local server echoes the hosts file", kEx,
     [](auto& p) { p.params.servers = As({"127.0.0.1"}), p.files.hosts = "93.184.216.34 example.com\n"; },
     Server(kEx, "127.0.0.1") + "93.184.216.34\r\n" + kEcho + kEchoed, {}, CheckEnd::Inconclusive, 3},
    {"a local server echoes the 21st hosts line", kEx, [](auto& p) {
         p.params.servers = As({"127.0.0.1"}), p.files.hosts = Blocking(20) + "93.184.216.34 example.com\n";
     },
     Server(kEx, "127.0.0.1") + "93.184.216.34\r\n" + kEcho + Blocking(21, 20), {}, CheckEnd::Inconclusive, 3},
    {"a local server, no hosts line", kEx, [](auto& p) { p.params.servers = As({"127.0.0.1"}); },
     Server(kEx, "127.0.0.1") + "93.184.216.34\r\n" + Match(kEx), {}, CheckEnd::Match, 0},
    {"silent server, no hosts", kEx, [](auto& p) { p.sockets.server = nullptr, p.files.hosts = ReadFault::Missing; },
     Server(kEx) + kNoReply, {}, CheckEnd::Inconclusive, 3},
    {"SERVFAIL carrying our address", kEx, [](auto& p) { p.Answer({A("93.184.216.34")}, 2); }, Server(kEx) + kNoReply,
     {}, CheckEnd::Inconclusive, 3},
    {"TC with addresses, none the computer's", kEx,
     Replying([](const Bytes& q) { return Truncated(fakes::ReplyTo(q, {ARecord("10.1.1.1"), ARecord("10.1.1.2")})); }),
     Server(kEx) + "10.1.1.1\r\n10.1.1.2\r\n" + kNoReply, {}, CheckEnd::Inconclusive, 3},
    {"a whole reply, then a truncated one: not whole", kEx, Replying([n = 0](const Bytes& q) mutable {
         const auto r = fakes::ReplyTo(q, {ARecord("10.1.1.1")});
         return n++ ? Truncated(r) : r;
     }), Server(kEx) + "10.1.1.1\r\n" + kNoReply, {}, CheckEnd::Inconclusive, 3},
    {"cut, but the computer's address came first", kEx, Records({ARecord("93.184.216.34"), {0x80}}),
     Server(kEx) + "93.184.216.34\r\n" + Match(kEx), {}, CheckEnd::Match, 0},
    {"oversized stray before the reply", kEx, [](auto& p) {
         p.sockets.server = [](const Bytes& q) {
             return std::vector<Bytes>{Bytes(kReceiveCapacity + 1, 0), fakes::ReplyTo(q, {ARecord("93.184.216.34")})};
         };
     }, Server(kEx) + "93.184.216.34\r\n" + Match(kEx), {}, CheckEnd::Match, 0},
    {"no socket", kEx, [](auto& p) { p.sockets.failSocket = -1; }, Server(kEx) + kNoReply, {}, CheckEnd::Inconclusive, 3,
     kNotSent},
    {"connect fails", kEx, [](auto& p) { p.sockets.failConnect = -1; }, Server(kEx) + kNoReply, {},
     CheckEnd::Inconclusive, 3, kNotSent},
    {"send fails", kEx, [](auto& p) { p.sockets.failSend = -1; }, Server(kEx) + kNoReply, {}, CheckEnd::Inconclusive, 3,
     kNotSent},
    {"receive fails", kEx, [](auto& p) { p.sockets.failReceive = -1; }, Server(kEx) + kNoReply, {}, CheckEnd::Inconclusive, 3},
    {"trailing dot: the hosts file's name asked", kEx + ".", {},
     Server(kEx + ".") + "93.184.216.34\r\n" + Match(kEx + "."), {}, CheckEnd::Match, 0},
    {"resolver fails", "  nowhere.test ", {}, Reasons("nowhere.test"), {}, CheckEnd::ResolverFailed, 2},
    {"no server", kEx, [](auto& p) { p.params.servers = std::vector<Address>{}; }, Direct(kEx),
     {"Error 002: DNS сервер не определен"}, CheckEnd::NoServer, 2},
    {"no network service", kEx, [](auto& p) { p.params.servers.reset(); }, Direct(kEx),
     {"Error 001: Iphlpapi.dll load error", "Error 002: DNS сервер не определен"}, CheckEnd::NoServer, 2},
    // The name rules themselves are MessageTest's; here, how a refusal ends.
    {"a label ends with a hyphen", "good-.test", {}, "", {kDomenError}, CheckEnd::Rejected, 2},
    {"a control character", "exam\x1bple.com", {}, "", {kDomenError}, CheckEnd::Rejected, 2},
    {"five blanks", "     ", {}, "", {kDomenError}, CheckEnd::Rejected, 2},
    {"a short host name", "t.me", [](auto& p) { p.sockets.hosts["t.me"] = {A("93.184.216.34")}; },
     Server("t.me") + "93.184.216.34\r\n" + Match("t.me"), {}, CheckEnd::Match, 0},
    {"dual stack: both families match", kEx, [](auto& p) { DualStack(p, {A("2001:db8::34"), A("93.184.216.34")}); },
     Resolved(kEx, k34And6) + k34And6 + Match(kEx), {}, CheckEnd::Match, 0},
    {"dual stack: A asked once, then AAAA", kEx,
     [](auto& p) { DualStack(p, {}), p.Answers({{A("93.184.216.34")}, {A("2001:db8::34")}, {}}); },
     Resolved(kEx, k34And6) + k34And6 + Match(kEx), {}, CheckEnd::Match, 0},
    {"dual stack: NODATA for AAAA", kEx, [](auto& p) { DualStack(p, {A("93.184.216.34")}); },
     Resolved(kEx, k34And6) + "93.184.216.34\r\n" + kHosts, {}, CheckEnd::Mismatch, 1},
    {"dual stack: another IPv6 address", kEx, [](auto& p) { DualStack(p, {A("93.184.216.34"), A("2001:db8::91")}); },
     Resolved(kEx, k34And6) + "93.184.216.34\r\n2001:db8::91\r\n" + kHosts, {}, CheckEnd::Mismatch, 1},
    {"dual stack: AAAA of 15 octets", kEx, Aaaa15("93.184.216.34"), Resolved(kEx, k34And6) + "93.184.216.34\r\n" + kNoReply,
     {}, CheckEnd::Inconclusive, 3},
    {"dual stack: AAAA of 15 octets, the whole A replies disagree", kEx, Aaaa15("10.1.1.1"),
     Resolved(kEx, k34And6) + "10.1.1.1\r\n" + kHosts, {}, CheckEnd::Mismatch, 1},
    {"IPv6 only: a hosts line for a name DNS gives A and AAAA", kEx,
     [](auto& p) { p.sockets.hosts[kEx] = {A("2001:db8::66")}, p.Answer({A("93.184.216.34"), A("2001:db8::91")}); },
     Resolved(kEx, "2001:db8::66\r\n") + "93.184.216.34\r\n2001:db8::91\r\n" + kHosts, {}, CheckEnd::Mismatch, 1},
    {"an IPv6 server", kEx, [](auto& p) { p.params.servers = As({"::1"}); },
     Server(kEx, "::1") + "93.184.216.34\r\n" + Match(kEx), {}, CheckEnd::Match, 0},
    ProofRow("proof: nothing on port 443", ProofResult::Unknown, ProofReason::Refused, "проверить не удалось (нет соединения)"),
    ProofRow("proof: silence", ProofResult::Unknown, ProofReason::Timeout, "проверить не удалось (нет ответа)"),
    ProofRow("proof: no TLS", ProofResult::Unknown, ProofReason::NotTls, "проверить не удалось (не HTTPS)"),
    ProofRow("proof: broken off after a certificate that passed", ProofResult::Unknown, ProofReason::Aborted,
             "проверить не удалось (соединение прервано)"),
    ProofRow("proof: an issuer not had in time", ProofResult::Unknown, ProofReason::Incomplete,
             "проверить не удалось (цепочка сертификатов неполна)"),
    ProofRow("proof: an issuer its URL did not give", ProofResult::Failed, ProofReason::Incomplete,
             "сертификат не подтверждает домен (цепочка сертификатов неполна)"),
    ProofRow("proof: the probe failed", ProofResult::Unknown, ProofReason::Internal, "проверить не удалось (внутренняя ошибка)"),
    ProofRow("proof: self-signed", ProofResult::Failed, ProofReason::Untrusted,
             "сертификат не подтверждает домен (издатель не является доверенным)"),
    ProofRow("proof: another name", ProofResult::Failed, ProofReason::Name,
             "сертификат не подтверждает домен (выдан для другого домена)"),
    ProofRow("proof: expired", ProofResult::Failed, ProofReason::Expired,
             "сертификат не подтверждает домен (срок действия истёк или не наступил)"),
    ProofRow("proof: another error", ProofResult::Failed, ProofReason::Error, "сертификат не подтверждает домен (ошибка сертификата)"),
    {"proof: five addresses, one fails, the witness does not give it", kEx, [](auto& p) {
         p.sockets.hosts[kEx] = kFive, p.Answer(kFive), p.tls.proofs["2001:db8::2"] = {ProofResult::Failed, ProofReason::Name};
     }, Resolved(kEx, kFiveLines) + kFiveLines + Proofs({kNoHttps, "2001:db8::1" + kNoHttps.substr(13), "2001:db8::2: сертификат не подтверждает "
        "домен (выдан для другого домена)", "2001:db8::3" + kNoHttps.substr(13), "2001:db8::4" + kNoHttps.substr(13)}) + kAgreed +
        Impostor("2001:db8::2") + kNoLine, {}, CheckEnd::Impostor, 1, "", true},
    {"proof: the other address proves the name", kEx,
     [](auto& p) { p.Answer({A("10.1.1.1")}), p.tls.proofs["93.184.216.34"] = kProven; },
     Server(kEx) + "10.1.1.1\r\n" + Proofs({kProvenLine}) + kProvenText, {}, CheckEnd::Proven, 0, "", true},
    {"proof: the second address proves the name, the witness does not know the first", kEx, [](auto& p) {
         p.sockets.hosts[kEx] = {A("10.1.1.1"), A("93.184.216.34")}, p.Answer({A("10.1.1.1")});
         p.tls.proofs["93.184.216.34"] = kProven;
     }, Resolved(kEx, "10.1.1.1\r\n") + "10.1.1.1\r\n" + Proofs({"10.1.1.1" + kNoHttps.substr(13), kProvenLine}) + kAgreed +
        "\r\nПодтвердить адрес 10.1.1.1 не удалось: сайт по этому адресу не подтвердил подлинность домена [example.com] по HTTPS, а "
        "независимый DNS сервер [192.0.2.53] этого адреса не знает. Если сайт [example.com] открывается в браузере без HTTPS, не "
        "вводите на нём пароли. Повторите проверку позже или проверьте настройки DNS на компьютере и на роутере.\r\n" + kNoLine,
     {}, CheckEnd::Unconfirmed, 3, "", true},
    {"proof: a hosts line keeps the mismatch", kEx, [](auto& p) {
         p.Answer({A("10.1.1.1")}), p.tls.proofs["93.184.216.34"] = kProven, p.files.hosts = "93.184.216.34 example.com\n";
     }, Server(kEx) + "10.1.1.1\r\n" + Proofs({kProvenLine}) + kWarning + kLower + kFile + kEchoed, {},
     CheckEnd::Mismatch, 1, "", true},
    {"proof: a hosts file not read keeps the mismatch", kEx, [](auto& p) {
         p.Answer({A("10.1.1.1")}), p.tls.proofs["93.184.216.34"] = kProven, p.files.hosts = ReadFault::Denied;
     }, Server(kEx) + "10.1.1.1\r\n" + Proofs({kProvenLine}) + kWarning + kLower + Unread("нет доступа"), {},
     CheckEnd::Mismatch, 1, "", true},
    {"proof: a genuine second address behind a substituted first", kEx,
     [](auto& p) { p.sockets.hosts[kEx] = {A("203.0.113.66"), A("93.184.216.34")}, p.tls.proofs["93.184.216.34"] = kProven; },
     Resolved(kEx, "203.0.113.66\r\n") + "93.184.216.34\r\n" +
        Proofs({"203.0.113.66: проверить не удалось (нет соединения)", kProvenLine}) + kAgreed + kHosts, {}, CheckEnd::Mismatch, 1, "", true},
    {"proof: no reply, but the site proves itself", kEx,
     [](auto& p) { p.sockets.server = nullptr, p.tls.proofs["93.184.216.34"] = kProven; },
     Server(kEx) + Proofs({kProvenLine}) + "\r\nDNS сервер не ответил, но сайт по адресу 93.184.216.34 подтвердил "
        "подлинность домена [example.com] сертификатом. Подмены IP адреса не обнаружено.\r\n", {}, CheckEnd::Proven, 0, "", true},
    {"proof: a blocking line keeps its mark, with an HTTPS server on this computer", kEx, [](auto& p) {
         p.sockets.hosts[kEx] = {A("127.0.0.1")}, p.files.hosts = "127.0.0.1 example.com\n", p.tls.proofs["127.0.0.1"] = kProven;
     }, Resolved(kEx, "127.0.0.1\r\n") + "93.184.216.34\r\n" + kWarning + kLower + kFile + "Строка 1: 127.0.0.1 example.com\r\n" +
        kBlocked, {}, CheckEnd::Mismatch, 1, "", true},
    {"witness: it disputes the address both roads agree on", kEx, Witnessing({A("10.1.1.1")}),
     Asked("Результат:\r\n10.1.1.1\r\n") + Disputed("93.184.216.34"), {}, CheckEnd::Disputed, 1, "", true},
    {"witness: NODATA for the family disputes it too", kEx, Witnessing({A("2001:db8::9")}), Asked("Результат:\r\n") +
     Disputed("93.184.216.34"), {}, CheckEnd::Disputed, 1, "", true},
    {"witness: two silent, no usable reply either", kEx, [](auto& p) {
         p.sockets.server = nullptr, p.files.settings["/etc/t.conf"] = "witness = " + kWitness + " https://w.test/q\n";
         p.http.ends = {{kWitness, platform::HttpsEnd::Timeout}, {"https://w.test/q", platform::HttpsEnd::Timeout}};
     }, Server(kEx) + Proofs({kNoHttps}) + "\r\n- Сверяем с независимым DNS сервером [192.0.2.53, w.test] (DNS через HTTPS)\r\n"
        "Независимый DNS сервер не ответил\r\n" + kUnverified, {}, CheckEnd::Unverified, 3, "", true},
    {"witness: untrusted", kEx, Witnessing({}, platform::HttpsEnd::Untrusted),
     Asked("Независимый DNS сервер недоступен (ошибка сертификата)\r\n") + kUnverified, {}, CheckEnd::Unverified, 3, "", true},
    {"witness: NXDOMAIN, an intranet name", kEx, Witnessing({}), Asked("Независимый DNS сервер не знает домена\r\n") + kNoWholeV4,
     {}, CheckEnd::Unverified, 3, "", true},
    {"witness: the DNS answers this computer", kEx, [](auto& p) { p.sockets.hosts[kEx] = {A("127.0.0.1")}, p.Answer({A("127.0.0.1")}); },
     Resolved(kEx, "127.0.0.1\r\n") + "127.0.0.1\r\n" + kAgreed + "\r\nВнимание! Для домена [example.com] получен адрес 127.0.0.1: "
        "это сам компьютер, а не сайт. Адрес домена подменён (роутер, провайдер, вредоносная программа) или домен заблокирован. "
        "Проверьте настройки DNS на компьютере и на роутере.\r\n" + kNoLine, {}, CheckEnd::Blocked, 1, "", true},
    {"witness: the DNS answers 0.0.0.0", kEx, [](auto& p) { p.sockets.hosts[kEx] = {A("0.0.0.0")}, p.Answer({A("0.0.0.0")}); },
     Resolved(kEx, "0.0.0.0\r\n") + "0.0.0.0\r\n" + kAgreed + "\r\nDNS сервер возвращает для домена [example.com] адрес 0.0.0.0: "
        "домен заблокирован DNS сервером (так отвечают фильтры рекламы и родительский контроль). Если вы не настраивали блокировку, "
        "проверьте настройки DNS на компьютере и на роутере.\r\n" + kNoLine, {}, CheckEnd::Filtered, 3, "", true},
    {"witness: a name under localhost asks none", "App.LOCALHOST",
     [](auto& p) { p.sockets.hosts["App.LOCALHOST"] = {A("127.0.0.1")}, p.Answer({A("127.0.0.1")}); },
     Resolved("App.LOCALHOST", "127.0.0.1\r\n") + "127.0.0.1\r\n" + Match("App.LOCALHOST"), {}, CheckEnd::Match, 0, "", true},
    {"witness: NXDOMAIN stands in for no silent server", kEx, [](auto& p) { p.sockets.server = nullptr, Witnessing({})(p); },
     Server(kEx) + Proofs({kNoHttps}) + kAsking + "Независимый DNS сервер не знает домена\r\n" + kNoWholeV4, {},
     CheckEnd::Unverified, 3, "", true},
    {"witness: a silent server, the witness agrees", kEx, [](auto& p) { p.sockets.server = nullptr; },
     Server(kEx) + Proofs({kNoHttps}) + kAgreed + "\r\nDNS сервер не ответил, адреса "
        "сверены с независимым DNS сервером [192.0.2.53]\r\n" + Match(kEx), {}, CheckEnd::Match, 0, "", true},
    {"witness: a hosts line the server agrees with does not keep it away", kEx, [](auto& p) {
         Witnessing({A("10.1.1.1")})(p), p.files.hosts = "93.184.216.34 example.com\n";
     }, Asked("Результат:\r\n10.1.1.1\r\n") + Disputed("93.184.216.34", kFile + kEchoed), {}, CheckEnd::Disputed, 1, "", true},
    {"proof: a server on this computer's LAN address echoes the hosts file, the witness decides", kEx,
     [](auto& p) { p.params.servers = As({"192.0.2.200"}), p.files.hosts = "93.184.216.34 example.com\n"; },
     Server(kEx, "192.0.2.200") + "93.184.216.34\r\n" + Proofs({kNoHttps}) + kAgreed + Match(kEx), {}, CheckEnd::Match, 0, "", true},
};

// The report as the console writes it: LF lines, the last one ended.
std::string Lf(const std::string& s) {
    const std::string lf = std::regex_replace(s, std::regex("\r\n"), "\n");
    return lf.empty() || lf.back() == '\n' ? lf : lf + "\n";
}

using CheckEndings = testing::TestWithParam<Ending>;

TEST_P(CheckEndings, InTheWindowAndOnTheConsole) {
    const Ending& e = GetParam();
    {
        fakes::CheckRig rig;
        rig.Click(kEx);  // a match first: nothing of it may reach the next check
        ASSERT_EQ(rig.fm.LastCheckEnd(), CheckEnd::Match);
        if (e.setUp) e.setUp(rig);
        rig.view.report.text = "typed by the user";
        rig.fm.options.prove = e.proof;
        const auto choices = std::get<Choices>(LoadSettings(rig.files));
        rig.fm.options.witnesses = choices.witnesses;
        rig.fm.options.proxy = choices.proxy;
        rig.tls.probed.clear();
        rig.Click(e.text);
        // Without the proof nothing connects to the site; with it, a probe for every line of its block.
        EXPECT_EQ(rig.tls.probed.empty(), e.report.find("(Соединение HTTPS)") == std::string::npos);
        EXPECT_EQ(rig.view.report.text, e.report);
        EXPECT_EQ(rig.box.shown, e.boxes);
        EXPECT_EQ(rig.fm.LastCheckEnd(), e.end);
        EXPECT_EQ(rig.sockets.open, 0);
        // The registry is read for the hosts file's path after a verdict but a
        // match, and to tell whether a server on this computer echoes the file.
        const bool local = e.report.find("определен: 127.") != std::string::npos ||
                           e.report.find("определен: ::1") != std::string::npos;
        // The witness is asked only where the report shows it, a hosts line looked for first; through the proxy
        // that the settings give for its URL.
        EXPECT_EQ(rig.http.posts > 0, e.report.find("(DNS через HTTPS)") != std::string::npos);
        for (const auto& via : rig.http.vias)
            EXPECT_EQ(via, e.report.find("окружения https_proxy)") != std::string::npos ? "192.0.2.8" : "");
        // ... or where an address the server does not give needs a hosts line looked for.
        const bool lan = e.report.find("определен: 192.0.2.200") != std::string::npos;
        const bool standIn = e.report.find("адреса сверены") != std::string::npos;
        EXPECT_EQ(!rig.shells.readPaths.empty(),
                  e.status == 1 || e.status == 3 || local || lan || standIn || e.end == CheckEnd::Proven);
    }
    fakes::Platform p;
    if (e.setUp) e.setUp(p);
    std::ostringstream out, err;
    const auto args = e.proof ? std::vector<std::string>{e.text} : std::vector<std::string>{"--no-proof", e.text};
    EXPECT_EQ(RunConsoleCheck(args, p.Console(), out, err, "\n"), e.status);
    EXPECT_EQ(out.str(), e.report.empty() ? "" : Lf(e.report));
    std::string lines;
    for (const auto& b : e.boxes) lines += b + "\n";
    if (!e.consoleNote.empty()) lines += e.consoleNote + "\n";
    EXPECT_EQ(err.str(), lines);
}
TARNWELL_ROWS(CheckEndings, kEndings);

TEST(CheckEndings, SecondMismatchTakesAFreshShellObject) {
    fakes::CheckRig rig;
    rig.Answer({A("10.1.1.1")});
    rig.Click(kEx);
    const platform::Shell* first = rig.fm.WshShell();
    rig.shells.value = "D:\\X";  // 1 to 4 characters: the box, and the text as read
    rig.Click(kEx);
    EXPECT_NE(rig.fm.WshShell(), first);
    EXPECT_TRUE(rig.view.report.text.ends_with("реестра:\r\nd:\\x\r\n\r\nФайл HOSTS: D:\\X\\hosts\r\n" +
                                               kNoLine.substr(kFile.size())));
    rig.shells.failCreate = true;  // the object of the last mismatch reads
    rig.shells.value = "E:\\Hosts";
    rig.Click(kEx);
    EXPECT_NE(rig.view.report.text.find("реестра:\r\ne:\\hosts\r\n"), std::string::npos);
    EXPECT_EQ(rig.box.shown.size(), 1u);
}

// The window starts only with sockets, and loads the presets with the third one in the box.
TEST(Window, StartsOnlyWithSockets) {
    fakes::CheckRig rig;
    rig.fm.Form_Load(), rig.sockets.startResult = 10091;
    EXPECT_EQ(rig.view.combo.text, rig.view.combo.items.at(2));
    EXPECT_EQ(Fm::Start(rig.view, {rig.sockets, rig.params, rig.shells, rig.box, rig.files, rig.tls, rig.http}), nullptr);
    EXPECT_EQ(rig.box.shown, std::vector<std::string>{"Tarnwell: Не удалось запустить Windows Sockets (ошибка 10091)?"});
}

const std::string kMatchLf = Lf(Server(kEx) + "93.184.216.34\r\n" + Proofs({kNoHttps}) + kAgreed + Match(kEx));

// A stream whose every write fails, as on a full disk.
struct FullBuffer : std::streambuf {
    int overflow(int) override { return traits_type::eof(); }
};

TEST(Console, CommandLine) {
    struct Row {
        std::vector<std::string> args;
        int status;
        std::string outStart, errStart;
        int start = 0;  // the sockets' start
    };
    const Row rows[] = {
        {{"--help"}, 0, "Usage: tarnwell-check [OPTION]... DOMAIN...\n", ""},
        {{"-V"}, 0, "tarnwell-check " TARNWELL_VERSION "\n", ""},
        {{"--bogus"}, 64, "", "tarnwell-check: unknown option '--bogus'\nTry 'tarnwell-check --help'.\n"},
        {{"exam\xff\xfeple.com"}, 64, "", "tarnwell-check: an argument is not valid UTF-8 text\nTry 'tarnwell-check --help'.\n"},
        {{"--", "-x"}, 2, "", kDomenError},
        {{"--timeout=6", kEx}, 64, "", "tarnwell-check: the timeout must be a whole number"},
        {{"--plugin", "--bogus"}, 3, "TARNWELL UNKNOWN - unknown option '--bogus' (see tarnwell-check --help)\n", ""},
        {{"--plugin", "a-.bc"}, 3, "TARNWELL UNKNOWN - a-.bc: not a domain name DNS can carry|", ""},
        {{kEx, "a-.bc", "nowhere.test", kEx}, 2, kMatchLf + "\n" + Lf(Reasons("nowhere.test")) + "\n" + kMatchLf, kDomenError},
        {{"--server", "2001:db8::53", "--no-proof", kEx}, 0, Lf(Server(kEx, "2001:db8::53")), ""},
        {{"--server", "10.1", kEx}, 64, "", "tarnwell-check: not an IP address: '10.1'\nTry"},
        {{"-j0", kEx}, 64, "", "tarnwell-check: the number of jobs must be a whole number from 1 to 256, not '0'\nTry"},
        {{"--jobs", "257", kEx}, 64, "", "tarnwell-check: the number of jobs must be"},
        {{"-j8", "-t3", "--deadline=9", kEx}, 0, kMatchLf, ""},
        {{"--jobs=1", "--timeout", "1", "--deadline", "3600", kEx}, 0, kMatchLf, ""},
        {{"--deadline", "0", kEx}, 64, "", "tarnwell-check: the deadline must be a whole number of seconds from 1 to 3600"},
        {{"-j"}, 64, "", "tarnwell-check: option '-j' needs a value\nTry 'tarnwell-check --help'.\n"},
        {{"-f/nonexistent/list"}, 64, "", "tarnwell-check: cannot read '/nonexistent/list': No such file or directory\n"},
        {{"-fx", "--from=y"}, 64, "", "tarnwell-check: only one list of domains (-f) may be given\nTry"},
        {{"-f", "-"}, 64, "", "tarnwell-check: expected at least one DOMAIN: the list has none\nTry"},
        {{"--server", "fe80::1%lo", "--no-proof", kEx}, 0, Lf(Server(kEx, "fe80::1%lo")), ""}, {{"-"}, 2, "", kDomenError},
        {{"-t=3", kEx}, 64, "", "tarnwell-check: the timeout must"}, {{"-t", "3x", kEx}, 64, "", "tarnwell-check: the timeout must"},
        {{"--no-proof=1", kEx}, 64, "", "tarnwell-check: option '--no-proof' takes no value\nTry"}, {{"--deadline=3601", kEx}, 64, "", "tarnwell-check: the deadline"},
        {{"--server", "\xff", kEx}, 64, "", "tarnwell-check: an argument is not valid UTF-8 text\nTry"},
        {{"--witness", "http://192.0.2.53/q", kEx}, 64, "", "tarnwell-check: a witness must be asked over https, not http: "
                                                            "'http://192.0.2.53/q'\nTry"},
        {{"--json", "--plugin", kEx}, 3, "TARNWELL UNKNOWN - --json and --plugin exclude each other (see tarnwell-check --help)\n", ""},
        {{kEx}, 71, "", "tarnwell-check: WSAStartup failed (10091)\n", 10091}, {{"-V"}, 0, "tarnwell-check ", "", 10091},
        {{"--plugin", kEx}, 3, "TARNWELL UNKNOWN - WSAStartup failed (10092)\n", "", 10092},
    };
    for (const auto& row : rows) {
        fakes::Platform p; p.sockets.startResult = row.start;
        std::ostringstream out, err;
        EXPECT_EQ(RunConsoleCheck(row.args, p.Console(), out, err, "\n"), row.status);
        EXPECT_TRUE(out.str().starts_with(row.outStart)) << out.str();
        // stderr begins with errStart, and is all of it when that ends a line
        EXPECT_TRUE(row.errStart.ends_with("\n") || row.errStart.empty() ? err.str() == row.errStart
                                                                        : err.str().starts_with(row.errStart)) << err.str();
        EXPECT_EQ(err.str().find('\xff'), std::string::npos);
    }
}

// A wrong settings file stops the console and the window, naming its line,
// and so does one that cannot be read; with a witness option and a proxy
// option no file is read: --no-witness and --no-proof ask nobody, --witness
// asks its own.
TEST(Console, SettingsFileAndWitnessOptions) {
    fakes::Platform p;
    Witnessing({A("10.1.1.1")})(p);
    p.files.settings["/etc/t.conf"] = "witness = " + kWitness + "\nwittness = off\n";
    const std::string fault = "/etc/t.conf:2: unknown key 'wittness' (the keys are witness and proxy)";
    std::ostringstream out, err;
    EXPECT_EQ(RunConsoleCheck({kEx}, p.Console(), out, err, "\n"), 64);
    EXPECT_EQ(err.str(), "tarnwell-check: " + fault + "\n");
    EXPECT_EQ(RunConsoleCheck({"--no-witness", kEx}, p.Console(), out, err, "\n"), 64);  // the proxy's is the file's
    EXPECT_EQ(RunConsoleCheck({"--no-proxy", kEx}, p.Console(), out, err, "\n"), 64);
    p.files.read.clear();
    EXPECT_EQ(RunConsoleCheck({"--no-witness", "--no-proxy", kEx}, p.Console(), out, err, "\n"), 0);
    EXPECT_EQ(RunConsoleCheck({"--proxy", "--no-proof", kEx}, p.Console(), out, err, "\n"), 0);
    EXPECT_EQ(p.http.posts, 0);
    out.str("");
    EXPECT_EQ(RunConsoleCheck({"--witness", kWitness, "--proxy", "--json", kEx}, p.Console(), out, err, "\n"), 1);
    EXPECT_EQ(nlohmann::json::parse(out.str())["witness"],
              nlohmann::json::parse(R"({"asked": [")" + kWitness + R"("], "answered": [")" + kWitness +
                                    R"("], "result": "answered", "addresses": ["10.1.1.1"]})"));
    EXPECT_EQ(std::ranges::count_if(p.files.read, [](auto& path) { return path.ends_with(".conf"); }), 0);
    p.files.settings = {{"/home/t.conf", ReadFault::Directory}};  // read, and no witness taken for granted
    const std::string unread = "/home/t.conf: cannot be read (it is a directory)";
    EXPECT_EQ(RunConsoleCheck({"--plugin", kEx}, p.Console(), out, err, "\n"), 3);
    EXPECT_TRUE(out.str().ends_with("TARNWELL UNKNOWN - " + unread + " (see tarnwell-check --help)\n")) << out.str();
    fakes::FakeView view; fakes::RecordingMessageBox box;
    EXPECT_EQ(Fm::Start(view, {p.sockets, p.params, p.shells, box, p.files, p.tls, p.http}), nullptr);
    EXPECT_EQ(box.shown, std::vector<std::string>{"Tarnwell: " + unread + "?"});
}

TEST(Console, WritesEachReportWholeAndReportsLostOutput) {
    fakes::Platform p;
    std::ostringstream out, err;
    std::string beforeQuery = "?";
    p.sockets.onSend = [&] { beforeQuery = out.str(); };
    EXPECT_EQ(RunConsoleCheck({kEx}, p.Console(), out, err, "\r\n"), 0);
    EXPECT_EQ(beforeQuery, "");
    EXPECT_EQ(out.str(), Server(kEx) + "93.184.216.34\r\n" + Proofs({kNoHttps}) + kAgreed + Match(kEx) + "\r\n");

    for (const auto& args : {std::vector<std::string>{kEx}, {"--help"}, {"--version"}}) {
        FullBuffer full; std::ostream lost(&full); std::ostringstream err2;
        EXPECT_EQ(RunConsoleCheck(args, p.Console(), lost, err2, "\n"), 74);
        EXPECT_EQ(err2.str(), "tarnwell-check: cannot write to standard output\n");
    }
}

// The formatting of check records: severity, JSON (parsed back) and plugin lines.
using namespace output;
CheckRecord Record(std::string domain, CheckEnd end, std::vector<std::string> system = {}, std::vector<std::string> server = {}, int ms = 0) {
    return {.domain = domain, .end = end, .systemAddresses = As(system), .serverAddresses = As(server),
            .elapsed = std::chrono::milliseconds(ms)};
}

TEST(Output, MostSevere) {
    const struct { std::vector<int> statuses; std::span<const int> order; int worst; } rows[] = {{{0, 2, 3, 1}, kConsoleSeverity, 1},
        {{0, 2, 3}, kConsoleSeverity, 3}, {{2, 0}, kConsoleSeverity, 2}, {{0, 3, 1}, kPluginSeverity, 1},
        {{1, 2, 3}, kPluginSeverity, 2}, {{0, 3}, kPluginSeverity, 3}};
    for (const auto& r : rows) EXPECT_EQ(MostSevere(r.statuses, r.order), r.worst);
}

TEST(Output, EveryOutcome) {
    const struct { CheckEnd end; const char* outcome; PluginState state; int status; } rows[] = {
        {CheckEnd::Match, "match", kPluginOk, 0}, {CheckEnd::Mismatch, "mismatch", kPluginCritical, 1},
        {CheckEnd::Inconclusive, "inconclusive", kPluginUnknown, 3}, {CheckEnd::Rejected, "rejected", kPluginUnknown, 2},
        {CheckEnd::ResolverFailed, "unresolved", kPluginWarning, 2}, {CheckEnd::NoServer, "no_server", kPluginWarning, 2},
        {CheckEnd::Impostor, "impostor", kPluginCritical, 1}, {CheckEnd::Proven, "proven", kPluginOk, 0},
        {CheckEnd::TimedOut, "timeout", kPluginUnknown, 3}, {CheckEnd::Disputed, "disputed", kPluginCritical, 1},
        {CheckEnd::Unverified, "inconclusive", kPluginUnknown, 3}, {CheckEnd::Unconfirmed, "inconclusive", kPluginUnknown, 3},
        {CheckEnd::Blocked, "blocked", kPluginCritical, 1}, {CheckEnd::Filtered, "filtered", kPluginWarning, 3},
        {CheckEnd::Unproven, "unproven", kPluginWarning, 3}};
    for (const auto& r : rows) {
        SCOPED_TRACE(r.outcome);
        const auto json = nlohmann::json::parse(JsonLine(Record("a.test", r.end)));
        EXPECT_EQ(json.at("outcome"), r.outcome);
        EXPECT_TRUE(json.at("hosts_file").is_null() && json.at("rcode").is_null() && json.at("hosts_error").is_null() &&
                    json.at("proxy").is_null());
        EXPECT_EQ(PluginStateOf(r.end), r.state);
        EXPECT_EQ(StatusOf(r.end), r.status);
    }
}

// A judgement whose one decisive address is in that state, decided by the first witness.
Judgement Decided(AddressState state, const char* address, DecidedBy by = DecidedBy::Witness) {
    return {Verdict::Mismatch, {{A(address), state, by, {0}}}, 0};
}
const CheckRecord kMismatch = {.domain = "b.test", .queryName = "b.test", .end = CheckEnd::Mismatch,
    .systemAddresses = As({"10.0.0.1", "10.0.0.2"}), .server = A("10.0.0.53"), .serverAddresses = As({"10.1.1.1", "10.1.1.2"}),
    .rcode = 0, .judgement = {Verdict::Mismatch, {{A("10.0.0.1"), AddressState::Missing, DecidedBy::Server}}, 0},
    .hostsFile = "/etc/hosts", .hostsLines = {{{3, "10.0.0.1 b.test", "10.0.0.1", false}}, 1}, .elapsed = std::chrono::milliseconds(1250)};

TEST(Output, Proxy) {
    CheckRecord r = kMismatch;
    r.proxy = ProxyRecord{.source = ProxySource::Wpad, .pacUrl = "http://wpad/wpad.dat",
                          .entries = {{platform::ProxyScheme::Https, "p.test", 443}, {}}, .httpEntries = {{}}, .othersDirect = true};
    EXPECT_EQ(nlohmann::json::parse(JsonLine(r)).at("proxy").dump(),
              R"({"checked":true,"entries":["HTTPS p.test:443","DIRECT"],"error":null,"http_entries":["DIRECT"],)"
              R"("others_direct":true,"pac_url":"http://wpad/wpad.dat","source":"wpad"})");
    // The plugin line names the proxy that failed the proof, or why the road left the site unverified.
    r.end = CheckEnd::Impostor;
    r.proofs = {{A("192.0.2.90"), platform::Failed(platform::ProofReason::Name), {platform::ProxyScheme::Http, "p.test", 3128}}};
    r.judgement.decisive.reset(), r.judgement.decisiveProxy = 0;
    EXPECT_EQ(PluginLine(r), "b.test: certificate not proven through proxy p.test:3128 (name)");
    r.end = CheckEnd::Unverified, r.judgement.doubt = ProxyDoubt::Silent;
    r.proofs[0].proof = platform::Unknown(platform::ProofReason::ProxyAuth);
    EXPECT_EQ(PluginLine(r), "b.test: the browser's proxy p.test:3128 asks for a password");
    r.proxy = ProxyRecord{.source = ProxySource::Variable, .checked = false, .error = PacError::Memory};
    EXPECT_EQ(nlohmann::json::parse(JsonLine(r)).at("proxy").dump(),
              R"({"checked":false,"entries":[],"error":"memory","http_entries":[],"others_direct":false,"pac_url":null,)"
              R"("source":"environment"})");
}

TEST(Output, HostileText) {
    CheckRecord r = Record("\"q|\\\x01\n\x7f", CheckEnd::Rejected);
    r.hostsLines.lines.push_back({1, "1.2.3.4 b\xff\xfe\xe2\x82", "1.2.3.4", false});
    const auto json = nlohmann::json::parse(JsonLine(r));
    EXPECT_EQ(json.at("domain"), r.domain);
    EXPECT_EQ(json.at("hosts_lines").at(0).at("text"), "1.2.3.4 b\uFFFD\uFFFD\uFFFD");
    EXPECT_EQ(PluginLine(r), "\"q?\\???: not a domain name DNS can carry");
}

TEST(Output, PluginLines) {
    const CheckRecord match = Record("a.test", CheckEnd::Match, {"10.0.0.1"}, {"10.0.0.1"}, 5);
    EXPECT_EQ(PluginOutput({match, kMismatch}, std::chrono::milliseconds(1255)), (std::vector<std::string>{
        "TARNWELL CRITICAL - 1 of 2 domains match; b.test: 10.0.0.1 not among the DNS server's 10.1.1.1, "
        "10.1.1.2; hosts file /etc/hosts line 3: 10.0.0.1 b.test|time=1.255s;;;0",
        "[OK] a.test: 10.0.0.1 among the DNS server's 10.0.0.1",
        "[CRITICAL] b.test: 10.0.0.1 not among the DNS server's 10.1.1.1, 10.1.1.2; hosts file /etc/hosts line 3: "
        "10.0.0.1 b.test"}));
    EXPECT_EQ(PluginOutput({match}, std::chrono::milliseconds(5)).front(), "TARNWELL OK - a.test: 10.0.0.1 among the DNS server's 10.0.0.1|time=0.005s;;;0");
    const auto mismatch = nlohmann::json::parse(JsonLine(kMismatch));
    EXPECT_TRUE(mismatch.at("hosts_file") == "/etc/hosts" && mismatch.at("rcode") == 0 &&
                mismatch.at("hosts_lines").at(0).at("line") == 3);
    CheckRecord unread = kMismatch;
    unread.hostsLines = {}, unread.hostsFault = ReadFault::Denied;
    EXPECT_EQ(PluginLine(unread), "b.test: 10.0.0.1 not among the DNS server's 10.1.1.1, 10.1.1.2; hosts file "
                                  "/etc/hosts cannot be read (denied)");
    EXPECT_EQ(nlohmann::json::parse(JsonLine(unread)).at("hosts_error"), "denied");
    CheckRecord echo = kMismatch;
    echo.end = CheckEnd::Inconclusive;
    echo.judgement.verdict = Verdict::LocalEcho;
    EXPECT_EQ(PluginLine(echo), "b.test: 10.0.0.1 from the DNS server 10.0.0.53 on this computer, which may serve the same "
                                "hosts file: check with --server ADDRESS");
    // The family that disagrees, the address that failed its proof and why, the one that proved it.
    CheckRecord v6 = Record("c.test", CheckEnd::Mismatch, {"10.0.0.1", "2001:db8::1"}, {"10.0.0.1"});
    v6.server = A("10.0.0.53"), v6.judgement = Decided(AddressState::Missing, "2001:db8::1", DecidedBy::Server);
    EXPECT_EQ(PluginLine(v6), "c.test: IPv6 2001:db8::1 but the DNS server 10.0.0.53 has no IPv6 address for it");
    v6.serverAddresses.push_back(A("2001:db8::2"));
    EXPECT_EQ(PluginLine(v6), "c.test: IPv6 2001:db8::1 not among the DNS server's 2001:db8::2");
    v6.proofs = {{A("10.0.0.1"), {platform::ProofResult::Unknown, platform::ProofReason::Timeout}},
                 {A("2001:db8::1"), {platform::ProofResult::Failed, platform::ProofReason::Expired}}};
    v6.end = CheckEnd::Impostor;
    EXPECT_EQ(PluginLine(v6), "c.test: 2001:db8::1 failed to prove the name over HTTPS (expired certificate)");
    v6.proofs[1].proof = {platform::ProofResult::Proven, platform::ProofReason::None};
    v6.end = CheckEnd::Proven;
    EXPECT_EQ(PluginLine(v6), "c.test: 2001:db8::1 proved the name over HTTPS; no usable reply from the DNS server 10.0.0.53");
    v6.rcode = 0;
    EXPECT_EQ(PluginLine(v6), "c.test: 2001:db8::1 proved the name over HTTPS, though not among the DNS server's 10.0.0.1, 2001:db8::2");
    const auto json = nlohmann::json::parse(JsonLine(v6));
    EXPECT_EQ(json.at("proof"), nlohmann::json::parse(R"([{"address": "10.0.0.1", "result": "unknown", "reason": "timeout",
        "via": null}, {"address": "2001:db8::1", "result": "proven", "reason": null, "via": null}])"));
    EXPECT_EQ(json.at("system_addresses"), nlohmann::json::parse(R"(["10.0.0.1", "2001:db8::1"])"));
    EXPECT_EQ(json.at("system_address"), "10.0.0.1");
    v6.witness = WitnessRecord{{"https://w.test/q"}, {}, {"w.test"}, WitnessResult::Silent, {}, "w.test"};
    v6.end = CheckEnd::Unverified;
    EXPECT_EQ(PluginLine(v6), "c.test: not proven over HTTPS, and no independent DNS server answered (w.test)");
    v6.end = CheckEnd::Disputed, v6.judgement = Decided(AddressState::Disputed, "10.0.0.1");
    EXPECT_EQ(PluginLine(v6), "c.test: 10.0.0.1 not confirmed by the independent DNS server w.test and not proven over HTTPS");
    // Each new state's line names the address the verdict gives, and the witnesses that decided it.
    const struct { CheckEnd end; AddressState state; const char* line; } rows[] = {
        {CheckEnd::Unconfirmed, AddressState::Unconfirmed, "c.test: 10.0.0.1 not proven over HTTPS and not known to w.test"},
        {CheckEnd::Blocked, AddressState::Blocked, "c.test: the DNS answers 10.0.0.1 (this computer)"},
        {CheckEnd::Filtered, AddressState::Filtered, "c.test: blocked by the DNS server (10.0.0.1)"},
        {CheckEnd::Unproven, AddressState::Unproven, "c.test: 10.0.0.1 confirmed by w.test but not proven over HTTPS (timeout)"},
        {CheckEnd::Unverified, AddressState::Unverified, "c.test: 10.0.0.1 not proven over HTTPS, and no independent DNS server "
                                                         "gave a whole IPv4 answer"},
        {CheckEnd::Mismatch, AddressState::Missing, "c.test: 10.0.0.1 not among the independent DNS server's 10.0.0.9"}};
    v6.witness->answered = {"https://w.test/q"}, v6.witness->addresses = As({"10.0.0.9", "2001:db8::9"});
    for (const auto& row : rows) {
        v6.end = row.end, v6.judgement = Decided(row.state, "10.0.0.1");
        EXPECT_EQ(PluginLine(v6), row.line);
        EXPECT_EQ(nlohmann::json::parse(JsonLine(v6)).at("outcome_address"), "10.0.0.1");
    }
    EXPECT_EQ(nlohmann::json::parse(JsonLine(v6)).at("addresses"),
              nlohmann::json::parse(R"([{"address": "10.0.0.1", "state": "missing", "by": "witness"}])"));
}

// Many domains at once. The times in an output differ from run to run.
std::string Untimed(const std::string& s) {
    return std::regex_replace(s, std::regex(R"(("elapsed_ms":|time=)[0-9.]+)"), "$010");  // $01, then 0
}
struct Outcome { int status; std::string out, err; };
Outcome RunMany(fakes::Platform& p, std::vector<std::string> args, std::istream* in = nullptr, std::stop_token stop = {}) {
    std::ostringstream out, err;
    const int status = RunConsoleCheck(args, p.Console(), out, err, "\n", in, stop);
    return {status, Untimed(out.str()), err.str()};
}
// Checks that end early leave a thread behind on the platform: one that
// lives on, never destroyed (and reachable, which no leak checker minds).
fakes::Platform& Lasting() {
    static auto* kept = new std::vector<fakes::Platform*>;
    return *kept->emplace_back(new fakes::Platform);
}
// Of each JSON line its line number (0: none) and outcome.
std::string LinesAndOutcomes(const std::string& out) {
    std::string s;
    std::istringstream lines(out);
    for (std::string line; std::getline(lines, line);) {
        const auto json = nlohmann::json::parse(line);
        s += std::to_string(json.value("line", 0)) + " " + json.at("outcome").get<std::string>() + ", ";
    }
    return s;
}

TEST(ManyDomains, FromAListFileOrStandardInput) {
    // A byte order mark before the first line, as Notepad saves a list, is no part of it.
    const std::string list = "\xEF\xBB\xBF# a comment\n\n \t\nexample.com\r\nexam\xffple.com\n  # another\nnowhere.test\n";
    const std::string path = testing::TempDir() + "tarnwell-list.txt";
    std::ofstream(path, std::ios::binary) << list;
    std::istringstream in(list);
    fakes::Platform p;
    const Outcome fromFile = RunMany(p, {"--json", "a-.bc", "-f", path}), fromInput = RunMany(p, {"--json", "a-.bc", "-f-"}, &in);
    EXPECT_EQ(fromFile.out, fromInput.out);
    EXPECT_EQ(LinesAndOutcomes(fromFile.out), "0 rejected, 4 match, 5 rejected, 7 unresolved, ");
    EXPECT_EQ(fromFile.status, 2);
}

// A check that cannot have the memory it needs ends undecided, said on standard error; the others are written.
TEST(ManyDomains, ACheckWithoutMemoryEndsUndecided) {
    fakes::Platform p;
    p.tls.starved = true;
    const Outcome o = RunMany(p, {"--json", "-j1", kEx, "a-.bc", kEx});
    EXPECT_EQ(LinesAndOutcomes(o.out), "0 inconclusive, 0 rejected, 0 inconclusive, ");
    EXPECT_EQ(o.err, "tarnwell-check: the check of example.com could not be completed\n" + kDomenError +
                         "\ntarnwell-check: the check of example.com could not be completed\n");
    EXPECT_EQ(o.status, 3);
}

TEST(ManyDomains, TheDeadlineEndsTheRun) {
    const std::string timedOut = "Проверка не завершена к сроку --deadline. Домен: [example.com]\n";
    const struct { std::vector<std::string> args; std::string out; } rows[] = {
        {{"--json", "--deadline=1", "-j1", "-t2", "a-.bc", kEx, kEx}, "0 rejected, 0 timeout, 0 timeout, "},
        {{"--deadline=1", "-t2", kEx, kEx}, timedOut + "\n" + timedOut}};
    for (const auto& row : rows) {
        fakes::Platform& p = Lasting();
        p.sockets.silent = true;  // each check waits out its two seconds
        p.sockets.server = nullptr;
        Outcome o = RunMany(p, row.args);
        EXPECT_EQ(row.args[0] == "--json" ? LinesAndOutcomes(o.out) : o.out, row.out);
        EXPECT_EQ(o.status, 3);
    }
}

TEST(ManyDomains, AnInterruptEndsTheRunBetweenTwoOutputs) {
    fakes::Platform& p = Lasting();
    std::stop_source stop;
    p.sockets.onLookup = [stop](const std::string& name) mutable {
        if (name == "nowhere.test") stop.request_stop();
    };
    const Outcome o = RunMany(p, {"--json", "-j1", kEx, "a-.bc", "nowhere.test", kEx}, nullptr, stop.get_token());
    EXPECT_EQ(o.status, 130);
    const std::string written = LinesAndOutcomes(o.out);  // whole lines only
    EXPECT_TRUE(written == "" || written == "0 match, " || written == "0 match, 0 rejected, ") << written;
}

}  // namespace
}  // namespace tarnwell
