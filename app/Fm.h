#pragma once
#include "platform/MsgBox.h"
#include "platform/NetworkParams.h"
#include "platform/Shell.h"
#include "platform/Sockets.h"
#include "platform/Toolkit.h"
#include "resolve/CheckState.h"

#include <chrono>
#include <cstdint>
#include <memory>

namespace tarnwell {

// What the main window's logic uses of the platform.
struct FmPlatform {
    platform::Sockets& sockets;
    platform::NetworkParams& networkParams;
    platform::ShellFactory& shells;
    platform::MsgBox& messageBox;
};

// How the last check ended: the one record of its outcome.
enum class CheckEnd {
    None,            // no check has run
    Rejected,        // domain text too short, or a name the DNS cannot carry
    ResolverFailed,  // the computer's resolver gave no address
    NoServer,        // no DNS server configured
    Match,           // an address of the server equals the resolver's
    Mismatch,        // the server's usable reply has no address that does
    Inconclusive     // no usable reply from the server: nothing to compare
};

// The main window's logic: its event handlers and the check procedure that
// the check button runs. The toolkit's window (FmView) owns the controls.
class Fm : public platform::FormEvents {
public:
    Fm(platform::FmView& view, FmPlatform platform, CheckState& state);

    void Form_Load() override;
    void Form_Resize() override;
    void Form_Unload(std::int16_t& cancel) override;
    void Cmd1_Click() override;

    // The shell object of the latest mismatch verdict, or nullptr.
    platform::Shell* WshShell() const { return WshShell_.get(); }
    CheckEnd LastCheckEnd() const { return lastEnd_; }

    // The wait for the DNS server's reply and its port; tests shorten the one
    // and point the other at their own server.
    std::chrono::milliseconds replyWait;
    std::uint16_t dnsPort;

private:
    void Reject();
    void DirectQueryStage(const std::string& domain);

    platform::FmView& view_;
    FmPlatform platform_;
    CheckState& state_;
    std::unique_ptr<platform::Shell> WshShell_;
    CheckEnd lastEnd_ = CheckEnd::None;
};

}  // namespace tarnwell
