#include "app/ConsoleCheck.h"

#include "common/Text.h"
#include "platform/console/ConsoleView.h"

namespace tarnwell {

namespace {

constexpr char kUsage[] =
    "Usage: tarnwell-check DOMAIN\n"
    "Checks whether the address this computer uses for DOMAIN has been substituted:\n"
    "compares the computer's own resolver with a direct query to its first DNS server.\n"
    "\n"
    "  -h, --help     show this help and exit\n"
    "  -V, --version  show the version and exit\n"
    "\n"
    "Exit status: 0 addresses match; 1 mismatch; 2 the check ended before a verdict;\n"
    "3 inconclusive, no usable reply from the DNS server; 64 usage error;\n"
    "74 the output could not be written.\n";

constexpr char kVersion[] = "tarnwell-check " TARNWELL_VERSION "\n";

// What was written must have reached standard output, or the caller hears.
int Written(std::ostream& out, std::ostream& err, int status) {
    out.flush();
    if (out) return status;
    err << "tarnwell-check: cannot write to standard output\n";
    return kStatusIoError;
}

int StatusOf(CheckEnd end) {
    switch (end) {
        case CheckEnd::Match:
            return kStatusMatch;
        case CheckEnd::Mismatch:
            return kStatusMismatch;
        case CheckEnd::Inconclusive:
            return kStatusInconclusive;
        default:
            return kStatusNoVerdict;
    }
}

}  // namespace

int RunConsoleCheck(const std::vector<std::string>& args, const ConsolePlatform& platform,
                    std::ostream& out, std::ostream& err, const std::string& newline) {
    std::vector<std::string> operands;
    bool options = true;
    for (const auto& arg : args) {
        if (!text::ValidUtf8(arg)) {
            err << "tarnwell-check: an argument is not valid UTF-8 text\n" << kUsage;
            return kStatusUsage;
        }
        if (options && arg == "--") {
            options = false;
        } else if (options && (arg == "-h" || arg == "--help")) {
            out << kUsage;
            return Written(out, err, 0);
        } else if (options && (arg == "-V" || arg == "--version")) {
            out << kVersion;
            return Written(out, err, 0);
        } else if (options && arg.size() > 1 && arg[0] == '-') {
            err << "tarnwell-check: unknown option '" << arg << "'\n" << kUsage;
            return kStatusUsage;
        } else {
            operands.push_back(arg);
        }
    }
    if (operands.size() != 1) {
        err << "tarnwell-check: expected exactly one DOMAIN\n" << kUsage;
        return kStatusUsage;
    }

    platform::ConsoleView view(out, newline);
    platform::ConsoleMessageBox box(err);
    CheckState state;
    Fm fm(view, {platform.sockets, platform.networkParams, platform.shells, box, platform.files}, state);
    fm.Form_Load();
    view.Cmb1().SetText(operands.front());
    fm.Cmd1_Click();
    // The report cannot tell a query that never left from a silent server.
    if (fm.LastCheckEnd() == CheckEnd::Inconclusive && !fm.LastCheck().sent)
        err << "tarnwell-check: no query was sent to the DNS server\n";
    std::int16_t cancel = 0;
    fm.Form_Unload(cancel);
    view.Finish();
    return Written(out, err, StatusOf(fm.LastCheckEnd()));
}

}  // namespace tarnwell
