#pragma once
#include "app/Fm.h"

#include <ostream>
#include <string>
#include <vector>

namespace tarnwell {

// Exit statuses of the console checker.
enum ConsoleStatus {
    kStatusMatch = 0,
    kStatusMismatch = 1,      // the server's reply has addresses, none equal
    kStatusNoVerdict = 2,     // the check ended before a verdict
    kStatusInconclusive = 3,  // no usable reply from the DNS server
    kStatusUsage = 64,        // EX_USAGE
    kStatusIoError = 74,      // EX_IOERR: the output could not be written
};

// What the console checker uses of the platform.
struct ConsolePlatform {
    platform::Sockets& sockets;
    platform::NetworkParams& networkParams;
    platform::ShellFactory& shells;
    platform::Files& files;
};

// Runs the console checker's command line with the given platform: one
// check of the domain through the window's own check procedure; the report
// goes to `out` piece by piece as the check writes it, with `newline` for
// its line breaks, and each message box to `err` as it comes up.
int RunConsoleCheck(const std::vector<std::string>& args, const ConsolePlatform& platform,
                    std::ostream& out, std::ostream& err, const std::string& newline);

}  // namespace tarnwell
