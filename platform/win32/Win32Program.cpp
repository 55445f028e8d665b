// The window program on Windows: creates the main window and runs until it
// is closed.
#include "platform/Program.h"
#include "platform/win32/Win32FmWindow.h"
#include "platform/win32/WinMessageBox.h"
#include "res/resource.h"

#include <windows.h>

namespace tarnwell::platform {

int RunWindowProgram(int, char*[], const FormSpec& form, const MakeFormEvents& make) {
    STARTUPINFOW startup{};
    startup.cb = sizeof startup;
    GetStartupInfoW(&startup);
    const int showCommand = (startup.dwFlags & STARTF_USESHOWWINDOW) ? startup.wShowWindow : SW_SHOWDEFAULT;
    try {
        WinMessageBox messageBox;
        Win32FmWindow window(form, GetModuleHandleW(nullptr), IDI_TARNWELL);
        messageBox.SetOwner(window.Handle());
        const std::unique_ptr<FormEvents> events = make(window, messageBox);
        window.SetEvents(events.get());
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

}  // namespace tarnwell::platform
