#pragma once
#include <string_view>

// The exit statuses of the programs, written once: tarnwell-check's usage
// text is made from the table below, and the window uses the usage status.
namespace tarnwell {

enum ConsoleStatus {
    kStatusMatch = 0,
    kStatusMismatch = 1,      // impostor, blocked, disputed or missing
    kStatusNoVerdict = 2,     // the check ended before a verdict
    kStatusInconclusive = 3,  // an address could not be vouched for
    kStatusUsage = 64,        // EX_USAGE
    kStatusOsError = 71,      // EX_OSERR: Windows Sockets could not be started
    kStatusIoError = 74,      // EX_IOERR: the output could not be written
    kStatusInterrupted = 130, // SIGINT (Ctrl-C): 128 + 2, as shells report it
};

struct StatusMeaning {
    ConsoleStatus status;
    std::string_view meaning;
};

inline constexpr StatusMeaning kStatusMeanings[] = {
    {kStatusMatch, "every address of the computer's proved the domain over HTTPS or is vouched for by the\n"
                   "      witnesses (or, with them off, by the DNS server)"},
    {kStatusMismatch, "an address of the computer's failed to prove the domain over HTTPS (impostor), is this\n"
                      "      computer (blocked), is not confirmed by the witnesses and did not prove the domain\n"
                      "      (disputed), or is missing from complete replies (mismatch)"},
    {kStatusNoVerdict, "the check ended before a verdict (domain refused, no address, no DNS server)"},
    {kStatusInconclusive, "an address could not be vouched for: its certificate failed but the witnesses give it\n"
                          "      (unproven), a filtering DNS server (filtered), no witness answered whole or it\n"
                          "      does not know an address beside one that proved (unverified), no usable,\n"
                          "      complete reply, a local server that serves the hosts file, or --deadline passed"},
    {kStatusUsage, "usage error"},
    {kStatusOsError, "Windows Sockets could not be started (Windows only)"},
    {kStatusIoError, "the output could not be written"},
    {kStatusInterrupted, "interrupted (Ctrl-C): the outputs written so far are whole"},
};

// Of the statuses of several checks the run's is the first of these that
// occurs: a mismatch outweighs every other verdict.
inline constexpr int kConsoleSeverity[] = {kStatusMismatch, kStatusInconclusive, kStatusNoVerdict,
                                           kStatusMatch};

}  // namespace tarnwell
