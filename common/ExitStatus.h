#pragma once
#include <string_view>

// The exit statuses of the programs, written once: tarnwell-check's usage
// text is made from the table below, and the window uses the usage status.
namespace tarnwell {

enum ConsoleStatus {
    kStatusMatch = 0,
    kStatusMismatch = 1,      // an address missing from complete replies, an impostor, or disputed
    kStatusNoVerdict = 2,     // the check ended before a verdict
    kStatusInconclusive = 3,  // no usable, complete reply from the DNS server
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
    {kStatusMatch, "the addresses match, or the ones that differ proved the domain over HTTPS"},
    {kStatusMismatch, "mismatch: an address of the computer's is missing from the DNS server's complete replies,\n"
                      "      or failed to prove the domain over HTTPS (impostor), or is not confirmed by the\n"
                      "      witnesses and did not prove the domain (disputed)"},
    {kStatusNoVerdict, "the check ended before a verdict (domain refused, no address, no DNS server)"},
    {kStatusInconclusive, "inconclusive: no usable, complete reply, a local server that serves the hosts file,\n"
                          "      no witness answered when the site did not prove itself, or --deadline passed"},
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
