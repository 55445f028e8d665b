#include "platform/win32/WinConsole.h"

#include "platform/win32/WinText.h"

#include <windows.h>
#include <shellapi.h>

#include <algorithm>
#include <atomic>
#include <cstdlib>

namespace tarnwell::platform {

namespace {

std::function<void()> onCtrlC;

constexpr std::size_t kConsolePiece = 8 * 1024;  // UTF-16 units a write to the console, 16 KiB

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
        // In pieces: the console takes each from a heap of 64 KiB shared with
        // the rest of the process (Windows 7), and fails one that does not fit
        // (ERROR_NOT_ENOUGH_MEMORY). No piece ends inside a surrogate pair.
        const std::wstring wide = Widen(text);
        for (std::size_t at = 0; at < wide.size(); at += written) {
            std::size_t n = std::min<std::size_t>(wide.size() - at, kConsolePiece);
            if (at + n < wide.size() && IS_HIGH_SURROGATE(wide[at + n - 1])) --n;
            if (!WriteConsoleW(handle, wide.data() + at, static_cast<DWORD>(n), &written, nullptr) || written != n) return -1;
        }
        return 0;
    }
    const bool ok = WriteFile(handle, text.data(), static_cast<DWORD>(text.size()), &written, nullptr);
    return ok && written == text.size() ? 0 : -1;
}

}  // namespace tarnwell::platform
