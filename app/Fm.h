#pragma once
#include "engine/Check.h"
#include "platform/MsgBox.h"
#include "platform/Widgets.h"

#include <cstdint>
#include <memory>

namespace tarnwell {

// What the main window uses of the platform: the engine's services and the
// message box.
struct FmPlatform {
    platform::Sockets& sockets;
    platform::NetworkParams& networkParams;
    platform::ShellFactory& shells;
    platform::MsgBox& messageBox;
    platform::Files& files;
    platform::Tls& tls;
    platform::Http& http;
    platform::Serve serve = {};  // serves the window while its check waits
    platform::ProxySettingsReader* proxy = nullptr;  // the browser's proxy settings; none: not looked at
};

// The main window's logic: its event handlers. The check button runs the
// check engine and paints its events into the report box as they come. A
// widget call that fails is skipped and the check goes on.
class Fm : public platform::FormEvents {
public:
    Fm(platform::FmView& view, FmPlatform platform);
    // The window's logic with the choices of the settings files; nothing
    // when the sockets did not start or a settings file is wrong, after a
    // message box that says so: the check does not run on guesses.
    static std::unique_ptr<Fm> Start(platform::FmView& view, FmPlatform platform);

    void Form_Load() override;
    void Form_Resize() override;
    void Form_Unload(std::int16_t& cancel) override;
    void Cmd1_Click() override;

    // The shell object of the latest mismatch verdict, or nullptr.
    platform::Shell* WshShell() const { return WshShell_.get(); }
    CheckEnd LastCheckEnd() const { return record_.end; }
    const CheckRecord& LastCheck() const { return record_; }

    CheckOptions options;

private:
    platform::FmView& view_;
    FmPlatform platform_;
    std::unique_ptr<platform::Shell> WshShell_;
    CheckRecord record_;
};

}  // namespace tarnwell
