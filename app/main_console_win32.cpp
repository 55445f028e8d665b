// The console checker on Windows: the same check, with Windows Sockets, IP
// Helper and the shell object's registry read; the report in CRLF lines.
#include "app/ConsoleCheck.h"
#include "platform/win32/Services.h"
#include "platform/win32/WinConsole.h"

#include <cstdlib>
#include <iostream>

int main() {
    // Windows Sockets is started as the services are made, before any other
    // of them; RunConsoleCheck tells a start that failed.
    static tarnwell::platform::NativeServices native;
    // Message boxes go to standard error, the report to standard output.
    static tarnwell::platform::WinStdStream out(false), err(true);
    static std::stop_source stop;
    tarnwell::platform::OnCtrlC([] { stop.request_stop(); });
    const int status = tarnwell::RunConsoleCheck(tarnwell::platform::CommandLineArguments(),
                                                 {native.sockets, native.networkParams, native.shells, native.files, native.tls,
                                                  native.http, &native.proxy},
                                                 out, err, "\r\n", &std::cin, stop.get_token());
    // Checks left running (see RunConsoleCheck) end with the process.
    out.flush();
    err.flush();
    std::_Exit(status);
}
