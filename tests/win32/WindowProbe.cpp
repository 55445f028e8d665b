// Looks into a running tarnwell.exe from outside, for the end-to-end script:
//   tarnwell-probe center NAME   screen coordinates of the control's centre
//   tarnwell-probe text NAME     the control's text (UTF-8, as WM_GETTEXT has it)
//   tarnwell-probe close         asks the window to close
// Exit status 1 while there is no such window or control.
#include "app/FmLayout.h"
#include "platform/win32/WinText.h"
#include "platform/win32/Win32FmWindow.h"

#include <string>

int main(int argc, char** argv) {
    using tarnwell::platform::Win32FmWindow;
    if (argc < 2) return 64;
    const std::string command = argv[1];
    HWND window = FindWindowW(Win32FmWindow::kClassName, nullptr);
    if (!window) return 1;
    if (command == "close") return PostMessageW(window, WM_CLOSE, 0, 0) ? 0 : 1;
    if (argc < 3 || (command != "center" && command != "text")) return 64;
    HWND control = GetDlgItem(window, Win32FmWindow::ControlId(tarnwell::layout::kFm, argv[2]));
    if (!control) return 1;
    std::string out;
    if (command == "center") {
        RECT r;
        GetWindowRect(control, &r);
        out = std::to_string((r.left + r.right) / 2) + " " + std::to_string((r.top + r.bottom) / 2) + "\n";
    } else {  // WM_GETTEXT: GetWindowText does not read the text of another process's control
        std::wstring text(static_cast<std::size_t>(SendMessageW(control, WM_GETTEXTLENGTH, 0, 0)) + 1, L'\0');
        text.resize(static_cast<std::size_t>(
            SendMessageW(control, WM_GETTEXT, text.size(), reinterpret_cast<LPARAM>(text.data()))));
        out = tarnwell::platform::Narrow(text);
    }
    DWORD n;  // written as it is, without the C runtime's CRLF translation
    return WriteFile(GetStdHandle(STD_OUTPUT_HANDLE), out.data(), DWORD(out.size()), &n, nullptr) ? 0 : 1;
}
