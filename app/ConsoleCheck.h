#pragma once
#include "app/Fm.h"
#include "common/ExitStatus.h"

#include <istream>
#include <ostream>
#include <stop_token>
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
    platform::Http& http;
    platform::ProxySettingsReader* proxy = nullptr;  // the browser's proxy settings; none: not looked at
};

// Runs the console checker's command line with the given platform: one
// check per domain, up to -j of them at the same time, each on a thread of
// its own through the window's own check procedure on a window logic and
// check state of its own; only the discovered DNS server list is shared.
// The calling thread writes each domain's output whole, in the order given,
// as soon as it and every domain before it have ended: its report to `out`
// with `newline` for its line breaks and its message boxes to `err`, or its
// --json line, or at the end the --plugin output (see tarnwell-check
// --help). `-f -` reads the domains from `in`, as they are needed.
// Sockets that did not start (Sockets::Start) check nothing: the run ends
// with kStatusOsError, or the plugin's UNKNOWN line; --help and --version
// still answer.
//
// A stop request (Ctrl-C) ends the run with kStatusInterrupted, writing no
// more; --deadline writes the domains not yet ended as timed out and ends
// it. A check still inside a platform call then (a silent server's wait,
// the system resolver) is left running on its thread: the platform must
// outlive it, and the entry points end the process without destroying it.
int RunConsoleCheck(const std::vector<std::string>& args, const ConsolePlatform& platform,
                    std::ostream& out, std::ostream& err, const std::string& newline,
                    std::istream* in = nullptr, std::stop_token stop = {});

}  // namespace tarnwell
