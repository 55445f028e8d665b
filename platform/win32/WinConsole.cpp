#include "platform/win32/WinConsole.h"

#include "platform/win32/WinText.h"

#include <windows.h>
#include <shellapi.h>

#include <atomic>
#include <cstdlib>

namespace tarnwell::platform {

namespace {

std::function<void()> onCtrlC;

BOOL WINAPI CtrlHandler(DWORD event) {
    static std::atomic<int> count{0};
    if (event != CTRL_C_EVENT && event != CTRL_BREAK_EVENT) return FALSE;
    if (++count > 1) std::_Exit(130);
    onCtrlC();
    return TRUE;
}

}  // namespace

void OnCtrlC(std::function<void()> stop) {
    onCtrlC = std::move(stop);
    SetConsoleCtrlHandler(CtrlHandler, TRUE);
}

std::vector<std::string> CommandLineArguments() {
    int argc = 0;
    wchar_t** argv = CommandLineToArgvW(GetCommandLineW(), &argc);
    std::vector<std::string> args;
    for (int i = 1; i < argc; ++i) args.push_back(Narrow(argv[i]));
    LocalFree(argv);
    return args;
}

int WinStdStream::Buffer::sync() {
    const std::string text = str();
    str("");
    if (text.empty()) return 0;
    const HANDLE handle = GetStdHandle(error ? STD_ERROR_HANDLE : STD_OUTPUT_HANDLE);
    DWORD mode, written = 0;
    if (GetConsoleMode(handle, &mode)) {
        const std::wstring wide = Widen(text);
        const bool ok = WriteConsoleW(handle, wide.data(), static_cast<DWORD>(wide.size()), &written, nullptr);
        return ok && written == wide.size() ? 0 : -1;
    }
    const bool ok = WriteFile(handle, text.data(), static_cast<DWORD>(text.size()), &written, nullptr);
    return ok && written == text.size() ? 0 : -1;
}

}  // namespace tarnwell::platform
