// The console checker: the window's check for each domain given on the
// command line, for scripts, terminals and monitoring.
#include "app/ConsoleCheck.h"
#include "platform/posix/Services.h"

#include <fcntl.h>
#include <signal.h>
#include <sys/resource.h>
#include <unistd.h>

#include <cstdlib>
#include <iostream>
#include <system_error>
#include <thread>

int main(int argc, char* argv[]) {
    // With standard output closed, the check's socket could take its
    // descriptor and the report would go to the DNS server.
    if (fcntl(STDOUT_FILENO, F_GETFD) == -1) {
        std::cerr << tarnwell::kCannotWrite;
        return tarnwell::kStatusIoError;
    }
    // A reader that went away is a failed write (EPIPE), not a signal.
    signal(SIGPIPE, SIG_IGN);
    // SIGINT, blocked in every thread, is taken by one of its own: the first
    // stops the run between two outputs, a second ends the process at once.
    sigset_t interrupt;
    sigemptyset(&interrupt);
    sigaddset(&interrupt, SIGINT);
    pthread_sigmask(SIG_BLOCK, &interrupt, nullptr);
    static std::stop_source stop;
    try {
        std::thread([interrupt] {
            for (int signal = 0, count = 0; sigwait(&interrupt, &signal) == 0;)
                if (++count == 1) stop.request_stop();
                else std::_Exit(tarnwell::kStatusInterrupted);
        }).detach();
    } catch (const std::system_error&) {
        // No thread to be had: Ctrl-C ends the process as it would anyway.
        pthread_sigmask(SIG_UNBLOCK, &interrupt, nullptr);
    }

    // Up to 256 checks at once, each with up to 32 probes: the soft limit of
    // descriptors raised to the hard one, so that none runs out.
    if (rlimit files{}; getrlimit(RLIMIT_NOFILE, &files) == 0 && files.rlim_cur < files.rlim_max) {
        files.rlim_cur = files.rlim_max;
        setrlimit(RLIMIT_NOFILE, &files);
    }
    static tarnwell::platform::NativeServices native;
    const int status = tarnwell::RunConsoleCheck({argv + 1, argv + argc},
                                                 {native.sockets, native.networkParams, native.shells, native.files, native.tls,
                                                  native.http, &native.proxy},
                                                 std::cout, std::cerr, "\n", &std::cin, stop.get_token());
    // Checks left running (see RunConsoleCheck) end with the process.
    std::cout.flush();
    std::cerr.flush();
    std::_Exit(status);
}
