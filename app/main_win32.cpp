// The window program: the main window's logic on this platform's services
// and its toolkit's window.
#include "app/Fm.h"
#include "app/FmLayout.h"
#include "platform/Program.h"
#include "platform/win32/Services.h"

int main(int argc, char* argv[]) {
    // Never destroyed: a probe or a resolver call left running when the
    // window closed mid-check may still use them until the process ends.
    // Made, they have started Windows Sockets; Fm::Start tells a start that
    // failed, and the window is not shown.
    static auto& native = *new tarnwell::platform::NativeServices;
    return tarnwell::platform::RunWindowProgram(
        argc, argv, tarnwell::layout::kFm,
        [&](tarnwell::platform::FmView& view, tarnwell::platform::MsgBox& box, const tarnwell::platform::Serve& serve) {
            // Every wait of a check serves the window.
            const tarnwell::FmPlatform platform{native.sockets, native.networkParams, native.shells, box,
                                                native.files,   native.tls,           native.http, serve, &native.proxy};
            return tarnwell::Fm::Start(view, platform);
        });
}
