// The window program on Windows: answers --help and --version, creates the
// main window and runs until it is closed.
#include "common/ExitStatus.h"
#include "platform/Program.h"
#include "platform/win32/Win32FmWindow.h"
#include "platform/win32/WinMessageBox.h"
#include "res/resource.h"

#include <windows.h>

#include <optional>
#include <string_view>

namespace tarnwell::platform {

namespace {

constexpr int kStatusUsage = 64;  // EX_USAGE, as tarnwell-check
constexpr wchar_t kTitle[] = L"Tarnwell";
constexpr wchar_t kHelp[] =
    L"Usage: tarnwell [options]\n"
    L"Checks in a window whether the address this computer uses for a web domain has\n"
    L"been substituted.\n\n"
    L"Options:\n"
    L"  -h, --help       Show this help and exit.\n"
    L"  -V, --version    Show the version and exit.\n";

// A program without a console answers in a message box: --help and
// --version end it there, and so does any other argument, refused.
std::optional<int> Answer(int argc, char* argv[]) {
    if (argc < 2) return std::nullopt;
    const std::string_view arg = argv[1];
    if (argc == 2 && (arg == "-h" || arg == "--help")) {
        MessageBoxW(nullptr, kHelp, kTitle, MB_ICONINFORMATION | MB_OK);
        return 0;
    }
    if (argc == 2 && (arg == "-V" || arg == "--version")) {
        MessageBoxW(nullptr, L"tarnwell " TARNWELL_VERSION, kTitle, MB_ICONINFORMATION | MB_OK);
        return 0;
    }
    MessageBoxW(nullptr, L"The command line is not understood. See tarnwell --help.", kTitle, MB_ICONERROR | MB_OK);
    return kStatusUsage;
}

}  // namespace

int RunWindowProgram(int argc, char* argv[], const FormDesign& form, const MakeFormEvents& make) {
    if (const std::optional<int> status = Answer(argc, argv)) return *status;
    STARTUPINFOW startup{};
    startup.cb = sizeof startup;
    GetStartupInfoW(&startup);
    const int showCommand = (startup.dwFlags & STARTF_USESHOWWINDOW) ? startup.wShowWindow : SW_SHOWDEFAULT;
    try {
        WinMessageBox messageBox;
        Win32FmWindow window(form, GetModuleHandleW(nullptr), IDI_TARNWELL);
        messageBox.SetOwner(window.Handle());
        const std::unique_ptr<FormEvents> events = make(window, messageBox, [&window] { window.Serve(); });
        if (!events) return kStatusUsage;
        window.SetEvents(events.get());
        window.Load();
        window.CenterOnScreen();
        window.Show(showCommand);
        const int status = window.Run();
        window.SetEvents(nullptr);
        return status;
    } catch (const std::exception&) {
        MessageBoxW(nullptr, L"The window cannot be created.", kTitle, MB_ICONERROR | MB_OK);
        return 1;
    }
}

}  // namespace tarnwell::platform
