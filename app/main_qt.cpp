// The window program on Linux: the main window's logic on the POSIX
// platform and the Qt toolkit.
#include "app/Fm.h"
#include "app/FmLayout.h"
#include "platform/Program.h"
#include "platform/posix/PosixFiles.h"
#include "platform/posix/PosixShell.h"
#include "platform/posix/PosixSockets.h"
#include "platform/posix/ResolvConf.h"

int main(int argc, char* argv[]) {
    tarnwell::platform::PosixSockets sockets;
    tarnwell::platform::ResolvConfNetworkParams networkParams;
    tarnwell::platform::PosixShellFactory shells;
    tarnwell::platform::PosixFiles files;
    tarnwell::CheckState state;
    return tarnwell::platform::RunWindowProgram(
        argc, argv, tarnwell::layout::kFm, [&](tarnwell::platform::FmView& view, tarnwell::platform::MsgBox& box) {
            return std::make_unique<tarnwell::Fm>(view, tarnwell::FmPlatform{sockets, networkParams, shells, box, files}, state);
        });
}
