// The window program: the main window's logic on this platform's services
// and its toolkit's window.
#include "app/Fm.h"
#include "app/FmLayout.h"
#include "platform/Program.h"
#include "platform/PumpingSockets.h"
#include "platform/win32/Services.h"

#include <optional>

int main(int argc, char* argv[]) {
    tarnwell::platform::NativeServices native;
    tarnwell::CheckState state;
    // The sockets and the TLS probes serve the window while the check waits on them.
    std::optional<tarnwell::platform::PumpingSockets> sockets;
    return tarnwell::platform::RunWindowProgram(
        argc, argv, tarnwell::layout::kFm,
        [&](tarnwell::platform::FmView& view, tarnwell::platform::MsgBox& box, const tarnwell::platform::Serve& serve) {
            sockets.emplace(native.sockets, serve);
            native.tls.Serving(serve);
            const tarnwell::FmPlatform platform{*sockets, native.networkParams, native.shells, box, native.files,
                                                native.tls};
            return std::make_unique<tarnwell::Fm>(view, platform, state);
        });
}
