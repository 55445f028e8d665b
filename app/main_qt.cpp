// The window program: the main window's logic on this platform's services
// and its toolkit's window.
#include "app/Fm.h"
#include "app/FmLayout.h"
#include "platform/Program.h"
#include "platform/posix/Services.h"

int main(int argc, char* argv[]) {
    tarnwell::platform::NativeServices native;
    tarnwell::CheckState state;
    return tarnwell::platform::RunWindowProgram(
        argc, argv, tarnwell::layout::kFm, [&](tarnwell::platform::FmView& view, tarnwell::platform::MsgBox& box) {
            const tarnwell::FmPlatform platform{native.sockets, native.networkParams, native.shells, box, native.files, native.tls};
            return std::make_unique<tarnwell::Fm>(view, platform, state);
        });
}
