// The window program on Windows: creates the main window and runs until it
// is closed.
#include "app/Fm.h"
#include "app/FmLayout.h"
#include "platform/win32/WinMessageBox.h"
#include "platform/win32/WinNetworkParams.h"
#include "platform/win32/WinShell.h"
#include "platform/win32/WinSockets.h"
#include "platform/win32/Win32FmWindow.h"
#include "res/resource.h"

#include <windows.h>

int WINAPI WinMain(HINSTANCE instance, HINSTANCE, LPSTR, int showCommand) {
    try {
        tarnwell::platform::WinSockets sockets;
        tarnwell::platform::WinNetworkParams networkParams;
        tarnwell::platform::WinShellFactory shells;  // COM on this, the window's thread
        tarnwell::platform::WinMessageBox messageBox;
        tarnwell::CheckState state;

        tarnwell::platform::Win32FmWindow window(tarnwell::layout::kFm, instance, IDI_TARNWELL);
        messageBox.SetOwner(window.Handle());
        tarnwell::Fm fm(window, {sockets, networkParams, shells, messageBox}, state);
        window.SetEvents(&fm);
        window.Load();
        window.CenterOnScreen();
        window.Show(showCommand);
        const int status = window.Run();
        window.SetEvents(nullptr);
        return status;
    } catch (const std::exception&) {
        MessageBoxW(nullptr, L"The window cannot be created.", L"Tarnwell", MB_ICONERROR | MB_OK);
        return 1;
    }
}
