// The console checker on Windows: the same check, with Windows Sockets, IP
// Helper and the shell object's registry read; the report in CRLF lines.
#include "app/ConsoleCheck.h"
#include "platform/win32/WinConsole.h"
#include "platform/win32/WinFiles.h"
#include "platform/win32/WinNetworkParams.h"
#include "platform/win32/WinShell.h"
#include "platform/win32/WinSockets.h"

int main() {
    tarnwell::platform::WinSockets sockets;
    tarnwell::platform::WinNetworkParams networkParams;
    tarnwell::platform::WinShellFactory shells;
    tarnwell::platform::WinFiles files;
    // Message boxes go to standard error as they come up, the report to
    // standard output line by line.
    tarnwell::platform::WinStdStream out(false), err(true);
    const int status = tarnwell::RunConsoleCheck(tarnwell::platform::CommandLineArguments(),
                                                 {sockets, networkParams, shells, files}, out, err, "\r\n");
    err.flush();
    return status;
}
