// The console checker on Windows: the same check, with Windows Sockets, IP
// Helper and the shell object's registry read; the report in CRLF lines.
#include "app/ConsoleCheck.h"
#include "platform/win32/WinNetworkParams.h"
#include "platform/win32/WinShell.h"
#include "platform/win32/WinSockets.h"
#include "platform/win32/WinText.h"

#include <windows.h>
#include <shellapi.h>

#include <iostream>
#include <sstream>

namespace {

// Writes UTF-8 text to a console as UTF-16, or as bytes to a file or pipe;
// whether all of it was written.
bool Write(DWORD which, const std::string& text) {
    const HANDLE handle = GetStdHandle(which);
    DWORD mode, written = 0;
    if (GetConsoleMode(handle, &mode)) {
        const std::wstring wide = tarnwell::platform::Widen(text);
        return WriteConsoleW(handle, wide.data(), static_cast<DWORD>(wide.size()), &written, nullptr) &&
               written == wide.size();
    }
    return WriteFile(handle, text.data(), static_cast<DWORD>(text.size()), &written, nullptr) &&
           written == text.size();
}

}  // namespace

int main() {
    int argc = 0;
    wchar_t** argv = CommandLineToArgvW(GetCommandLineW(), &argc);
    std::vector<std::string> args;
    for (int i = 1; i < argc; ++i) args.push_back(tarnwell::platform::Narrow(argv[i]));
    LocalFree(argv);

    tarnwell::platform::WinSockets sockets;
    tarnwell::platform::WinNetworkParams networkParams;
    tarnwell::platform::WinShellFactory shells;

    // Message boxes go to standard error as they come up, the report to
    // standard output line by line; a failed write fails the stream.
    struct LineBuffer : std::stringbuf {
        DWORD which;
        explicit LineBuffer(DWORD w) : which(w) {}
        int sync() override {
            const std::string text = str();
            str("");
            return text.empty() || Write(which, text) ? 0 : -1;
        }
    } outBuffer(STD_OUTPUT_HANDLE), errBuffer(STD_ERROR_HANDLE);
    std::ostream out(&outBuffer), err(&errBuffer);
    const int status = tarnwell::RunConsoleCheck(args, sockets, networkParams, shells, out, err, "\r\n");
    out.flush();
    err.flush();
    return status;
}
