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
// A text counts as present when it has at least this many characters.
constexpr std::size_t kPresentLength = 5;

bool Present(const std::string& text) { return text::CharCount(text) >= kPresentLength; }
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
    auto& report = view_.Txt_IP();
    Step([&] { report.SetText(""); });
    state_.IpMatch = false;
    state_.HostIP.clear();
    state_.Replied = false;

    std::size_t length = 0;
    Step([&] { length = text::CharCount(view_.Cmb1().Text()); });
    if (length < kPresentLength) {
        Reject();
        return;
    }

    std::string domain;
    Step([&] { domain = text::TrimSpaces(view_.Cmb1().Text()); });
    // A name the DNS cannot carry is refused here, before either lookup, so
    // that the two lookups never ask for different names.
    if (!Step([&] { EncodeQName(domain); })) {
        Reject();
        return;
    }

    Step([&] { report.SetText("Начало проверки. Домен: [" + domain + "]\r\n\r\n"); });
    Step([&] {
        Append(report, {"- Получаем IP адрес для домена [", domain,
                        "] от DNS службы компьютера (Эмуляция работы браузера)", kCrLf, kCrLf,
                        "Результат:", kCrLf});
    });
    Step([&] { state_.HostIP = GetHostIP(platform_.sockets, domain); });

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
    DirectQueryStage(domain);
}

void Fm::Reject() {
    Step([&] {
        platform_.messageBox.Show("Данные о домене некорректны", platform::kMbInformation, "Domen Error");
    });
    record_.end = CheckEnd::Rejected;
}

void Fm::DirectQueryStage(const std::string& domain) {
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
    Step([&] { Append(report, {"DNS сервер определен: ", server, kCrLf, kCrLf, "Результат:", kCrLf}); });

    QueryContext query{platform_.sockets, state_, report, replyWait};
    Step([&] { QueryDnsServer(domain, server, query); });

    if (state_.IpMatch) {
        Step([&] {
            Append(report, {kCrLf, "IP адреса совпадают. Проблем связанных с доменом [", domain,
                            "] не обнаружено."});
        });
        record_.end = CheckEnd::Match;
        return;
    }
    // No usable reply is no evidence of substitution: say that the addresses
    // could not be compared instead of raising the alarm.
    if (!state_.Replied) {
        Step([&] {
            Append(report, {kCrLf,
                            "Нет ответа от DNS сервера. Сравнить IP адреса не удалось, повторите "
                            "проверку позже.",
                            kCrLf});
        });
        record_.end = CheckEnd::Inconclusive;
        return;
    }
    record_.end = CheckEnd::Mismatch;
    Step([&] {
        Append(report, {kCrLf,
                        "Внимание! Нет совпадения IP адреса. Подмена IP адреса в DNS службе "
                        "компьютера или локальной сети. Проверьте компьютер на вирусы и файл HOSTS.",
                        kCrLf, kCrLf});
    });

    // A shell object that cannot be created leaves the one of an earlier
    // mismatch in place.
    Step([&] { WshShell_ = platform_.shells.CreateObject("Wscript.Shell"); });
    std::string path;
    Step([&] {
        if (!WshShell_) throw Failure("no shell object");
        path = WshShell_->RegRead(platform::kDataBasePath);
    });
    Step([&] { path = platform::LowerCase(path); });
    if (!Present(path)) {
        Step([&] {
            platform_.messageBox.Show("DataBasePath параметр в реестре не найден",
                                      platform::kMbInformation, "ERROR 001");
        });
    }
    Step([&] { Append(report, {"Путь к фалу HOSTS по данным системного реестра:", kCrLf, path, kCrLf}); });
}

}  // namespace tarnwell
