#pragma once
#include "app/Fm.h"
#include "common/ExitStatus.h"

#include <ostream>
#include <string>
#include <vector>

namespace tarnwell {

// What the console checker says, on standard error, when its output is lost.
inline constexpr char kCannotWrite[] = "tarnwell-check: cannot write to standard output\n";

// What the console checker uses of the platform.
struct ConsolePlatform {
    platform::Sockets& sockets;
    platform::NetworkParams& networkParams;
    platform::ShellFactory& shells;
    platform::Files& files;
    platform::Tls& tls;
};

// Runs the console checker's command line with the given platform: one
// check per domain, in the order given, through the window's own check
// procedure on one window logic. The report goes to `out` piece by piece as
// the check writes it, with `newline` for its line breaks, and each message
// box to `err` as it comes up; --json and --plugin write their lines to
// `out` instead (see tarnwell-check --help).
int RunConsoleCheck(const std::vector<std::string>& args, const ConsolePlatform& platform,
                    std::ostream& out, std::ostream& err, const std::string& newline);

}  // namespace tarnwell
