// The console checker: the window's check for each domain given on the
// command line, for scripts, terminals and monitoring.
#include "app/ConsoleCheck.h"
#include "platform/posix/Services.h"

#include <fcntl.h>
#include <unistd.h>

#include <iostream>

int main(int argc, char* argv[]) {
    // With standard output closed, the check's socket could take its
    // descriptor and the report would go to the DNS server.
    if (fcntl(STDOUT_FILENO, F_GETFD) == -1) {
        std::cerr << tarnwell::kCannotWrite;
        return tarnwell::kStatusIoError;
    }
    tarnwell::platform::NativeServices native;
    return tarnwell::RunConsoleCheck({argv + 1, argv + argc},
                                     {native.sockets, native.networkParams, native.shells, native.files, native.tls},
                                     std::cout, std::cerr, "\n");
}
