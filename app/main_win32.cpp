// The window program on Windows: the main window's logic on Windows
// Sockets, IP Helper, the shell object and the Win32 toolkit.
#include "app/Fm.h"
#include "app/FmLayout.h"
#include "platform/Program.h"
#include "platform/win32/WinNetworkParams.h"
#include "platform/win32/WinFiles.h"
#include "platform/win32/WinShell.h"
#include "platform/win32/WinSockets.h"

int main(int argc, char* argv[]) {
    tarnwell::platform::WinSockets sockets;
    tarnwell::platform::WinNetworkParams networkParams;
    tarnwell::platform::WinShellFactory shells;  // COM on this, the window's thread
    tarnwell::platform::WinFiles files;
    tarnwell::CheckState state;
    return tarnwell::platform::RunWindowProgram(
        argc, argv, tarnwell::layout::kFm, [&](tarnwell::platform::FmView& view, tarnwell::platform::MsgBox& box) {
            return std::make_unique<tarnwell::Fm>(view, tarnwell::FmPlatform{sockets, networkParams, shells, box, files}, state);
        });
}
