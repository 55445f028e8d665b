// Looks into a running tarnwell.exe for tests/e2e/run.sh --wine: `tarnwell-probe NAME` prints the screen
// coordinates of the control's centre on a line, then its text in UTF-8, read by WM_GETTEXT (GetWindowText
// does not read another process's control). Exit status 1 while there is no such window or control.
// `tarnwell-probe --ping` asks the window as the system does whether it hangs (WM_NULL, 500 ms);
// `tarnwell-probe --close` closes it as its close button does. Exit status 1 when it hangs or is not there.
// `tarnwell-probe --proxy` prints the Internet Options as WinProxySettings reads them (no WPAD), a field a line.
#include "app/FmLayout.h"
#include "platform/win32/WinText.h"
#include "platform/win32/Win32FmWindow.h"
#include "platform/win32/WinProxy.h"

#include <string_view>

int main(int argc, char** argv) {
    using tarnwell::platform::Win32FmWindow;
    if (argc != 2) return 64;
    const auto write = [](const std::string& out) {  // as it is, without the C runtime's CRLF translation
        DWORD n;
        return WriteFile(GetStdHandle(STD_OUTPUT_HANDLE), out.data(), DWORD(out.size()), &n, nullptr) ? 0 : 1;
    };
    if (std::string_view(argv[1]) == "--proxy") {
        const auto end = std::chrono::steady_clock::now() + std::chrono::seconds(5);
        const auto s = tarnwell::platform::WinProxySettings().Read(end, false);
        return write(std::to_string(int(s.mode)) + "\n" + s.https + "\n" + s.http + "\n" + s.bypass + "\n" + s.pacUrl +
                     "\n");
    }
    HWND window = FindWindowW(Win32FmWindow::kClassName, nullptr);
    if (std::string_view(argv[1]) == "--ping")
        return window && SendMessageTimeoutW(window, WM_NULL, 0, 0, SMTO_ABORTIFHUNG, 500, nullptr) ? 0 : 1;
    if (std::string_view(argv[1]) == "--close") return window && PostMessageW(window, WM_SYSCOMMAND, SC_CLOSE, 0) ? 0 : 1;
    HWND control = GetDlgItem(window, Win32FmWindow::ControlId(tarnwell::layout::kFm, argv[1]));
    RECT r;
    if (!control || !GetWindowRect(control, &r)) return 1;
    std::wstring text(SendMessageW(control, WM_GETTEXTLENGTH, 0, 0) + 1, L'\0');
    text.resize(SendMessageW(control, WM_GETTEXT, text.size(), LPARAM(text.data())));
    return write(std::to_string((r.left + r.right) / 2) + " " + std::to_string((r.top + r.bottom) / 2) + "\n" +
                 tarnwell::platform::Narrow(text));
}
