// The console checker on Windows: the same check, with Windows Sockets, IP
// Helper and the shell object's registry read; the report in CRLF lines.
#include "app/ConsoleCheck.h"
#include "platform/win32/Services.h"
#include "platform/win32/WinConsole.h"

int main() {
    tarnwell::platform::NativeServices native;
    // Message boxes go to standard error as they come up, the report to
    // standard output line by line.
    tarnwell::platform::WinStdStream out(false), err(true);
    const int status = tarnwell::RunConsoleCheck(tarnwell::platform::CommandLineArguments(),
                                                 {native.sockets, native.networkParams, native.shells, native.files, native.tls}, out, err, "\r\n");
    err.flush();
    return status;
}
