#include "app/Fm.h"

#include "app/FmLayout.h"
#include "app/ReportWriter.h"
#include "common/Step.h"
#include "common/Text.h"

namespace tarnwell {

Fm::Fm(platform::FmView& view, FmPlatform platform) : view_(view), platform_(std::move(platform)) {}

std::unique_ptr<Fm> Fm::Start(platform::FmView& view, FmPlatform platform) {
    if (const int started = platform.sockets.Start(); started != 0) {
        const std::string fault = "Не удалось запустить Windows Sockets (ошибка " + std::to_string(started) + ")";
        Step([&] { platform.messageBox.Show(fault, platform::kMbCritical, "Tarnwell"); });
        return nullptr;
    }
    auto settings = LoadSettings(platform.files);
    if (const auto* fault = std::get_if<std::string>(&settings)) {
        Step([&] { platform.messageBox.Show(*fault, platform::kMbCritical, "Tarnwell"); });
        return nullptr;
    }
    auto fm = std::make_unique<Fm>(view, std::move(platform));
    fm->options.witnesses = std::get<Choices>(settings).witnesses;
    fm->options.proxy = std::get<Choices>(settings).proxy;
    return fm;
}

void Fm::Form_Load() {
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

void Fm::Form_Unload(std::int16_t& cancel) { cancel = 0; }

void Fm::Cmd1_Click() {
    auto& report = view_.Txt_IP();
    Step([&] { report.SetText(""); });
    std::string domain;
    Step([&] { domain = view_.Cmb1().Text(); });
    // Every widget call and message box resumes at the next statement when
    // it fails: the check goes on whatever the window does.
    ReportWriter writer(
        [&](const std::string& piece, bool first) { Step([&] { first ? report.SetText(piece) : report.Append(piece); }); },
        [&](const std::string& prompt, const std::string& title) {
            Step([&] { platform_.messageBox.Show(prompt, platform::kMbInformation, title); });
        });
    record_ = {};
    const CheckPlatform engine{platform_.sockets, platform_.networkParams, platform_.shells, platform_.files,
                               platform_.tls,     platform_.http,          platform_.serve, &WshShell_,
                               platform_.proxy};
    record_ = RunCheck(domain, engine, options, writer);
}

}  // namespace tarnwell
