#include "app/ConsoleCheck.h"

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
    "Exit status: 0 addresses match; 1 mismatch; 3 mismatch, the DNS server gave no\n"
    "address (inconclusive); 2 the check ended before a verdict; 64 usage error.\n";

constexpr char kVersion[] = "tarnwell-check " TARNWELL_VERSION "\n";

}  // namespace

int RunConsoleCheck(const std::vector<std::string>& args, platform::Sockets& sockets,
                    platform::NetworkParams& networkParams, platform::ShellFactory& shells,
                    std::ostream& out, std::ostream& err, const std::string& newline) {
    std::vector<std::string> operands;
    bool options = true;
    for (const auto& arg : args) {
        if (options && arg == "--") {
            options = false;
        } else if (options && (arg == "-h" || arg == "--help")) {
            out << kUsage;
            return 0;
        } else if (options && (arg == "-V" || arg == "--version")) {
            out << kVersion;
            return 0;
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

    platform::ConsoleView view;
    platform::ConsoleMessageBox box(err);
    CheckState state;
    Fm fm(view, {sockets, networkParams, shells, box}, state);
    fm.Form_Load();
    view.Cmb1().SetText(operands.front());
    fm.Cmd1_Click();
    std::int16_t cancel = 0;
    fm.Form_Unload(cancel);

    std::string report = view.Txt_IP().Text();
    if (newline != "\r\n") {
        std::string converted;
        for (std::size_t i = 0; i < report.size(); ++i) {
            if (report.compare(i, 2, "\r\n") == 0) {
                converted += newline;
                ++i;
            } else {
                converted += report[i];
            }
        }
        report = std::move(converted);
    }
    out << report;
    if (!report.empty() && report.back() != '\n') out << newline;
    out.flush();

    switch (fm.LastCheckEnd()) {
        case CheckEnd::Match:
            return kStatusMatch;
        case CheckEnd::Mismatch:
            return state.Answers > 0 ? kStatusMismatch : kStatusInconclusive;
        default:
            return kStatusNoVerdict;
    }
}

}  // namespace tarnwell
