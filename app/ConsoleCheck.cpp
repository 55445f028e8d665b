#include "app/ConsoleCheck.h"

#include "app/CheckOutput.h"
#include "common/Address.h"
#include "common/Text.h"
#include "platform/console/ConsoleView.h"

#include <algorithm>
#include <charconv>
#include <optional>

namespace tarnwell {

namespace {

constexpr char kUsageHead[] =
    "Usage: tarnwell-check [OPTION]... DOMAIN...\n"
    "Checks whether the addresses this computer uses for each DOMAIN have been substituted:\n"
    "compares the computer's own resolver (IPv4 and IPv6, as a browser asks) with direct\n"
    "A and AAAA queries to its first DNS server, and asks each of the computer's first four\n"
    "addresses to prove the domain over HTTPS: a TLS handshake on port 443 with the domain\n"
    "as SNI, its certificate checked against the system's trust store, and nothing more.\n"
    "The domains are checked one after another, in the order given. A DOMAIN must be a\n"
    "web domain's host name (a dot; letters, digits, - and _; IDNA for others): addresses\n"
    "and names without a dot are refused. Up to three queries of each type are sent while\n"
    "an address of the computer's of that family is missing from the replies. Every address\n"
    "of the computer's must be among the server's, or prove the domain over HTTPS with no\n"
    "hosts line mapping it; an address that fails the proof is an impostor; a mismatch needs\n"
    "complete replies (RFC 2181 section 9).\n"
    "\n"
    "      --json              one line of JSON per domain instead of the report\n"
    "      --plugin            a monitoring plugin's output and exit status (Nagios, Icinga)\n"
    "  -t, --timeout SECONDS   wait up to SECONDS, 1 to 5 (default 5), for each DNS server\n"
    "                          reply: N domains wait at most N x SECONDS for replies\n"
    "      --server ADDRESS    ask the DNS server at this IPv4 or IPv6 address instead\n"
    "      --no-proof          no HTTPS proof: no connection to the site's addresses\n"
    "  -h, --help              show this help and exit\n"
    "  -V, --version           show the version and exit\n"
    "\n";
constexpr char kUsageTail[] =
    "With --plugin: 0 OK, 1 WARNING, 2 CRITICAL, 3 UNKNOWN (usage errors and lost output too).\n";

constexpr char kVersion[] = "tarnwell-check " TARNWELL_VERSION "\n";

std::string Usage() {
    std::string usage = std::string(kUsageHead) + "Exit status, of several domains the first of";
    const std::size_t n = std::size(kConsoleSeverity);
    for (std::size_t i = 0; i < n; ++i)
        usage += (i == 0 ? " " : i + 1 == n ? " and " : ", ") + std::to_string(kConsoleSeverity[i]);
    usage += " that occurs:\n";
    for (const auto& [status, meaning] : kStatusMeanings)
        usage += (status < 10 ? "   " : "  ") + std::to_string(status) + "  " + std::string(meaning) + "\n";
    return usage + kUsageTail;
}

enum class Mode { Report, Json, Plugin };

struct Options {
    Mode mode = Mode::Report;
    std::optional<int> timeout;  // seconds
    std::optional<std::string> server;
    bool proof = true;
    std::vector<std::string> domains;
    bool help = false, version = false;
};

// The command line as options, or the text of its usage error.
std::optional<std::string> Parse(const std::vector<std::string>& args, Options& o) {
    bool options = true;
    for (std::size_t i = 0; i < args.size(); ++i) {
        std::string arg = args[i];
        if (!text::ValidUtf8(arg)) return "an argument is not valid UTF-8 text";
        if (!options || arg.size() < 2 || arg[0] != '-') {
            o.domains.push_back(arg);
            continue;
        }
        // An option's value is the next argument, or follows "=" in a long option.
        std::optional<std::string> value;
        if (const auto eq = arg.find('='); arg.starts_with("--") && eq != std::string::npos) {
            value = arg.substr(eq + 1);
            arg.resize(eq);
        }
        const bool takesValue = arg == "-t" || arg == "--timeout" || arg == "--server";
        if (takesValue && !value) {
            if (i + 1 == args.size()) return "option '" + arg + "' needs a value";
            value = args[++i];
            if (!text::ValidUtf8(*value)) return "an argument is not valid UTF-8 text";
        }
        if (value && !takesValue) return "option '" + arg + "' takes no value";
        if (arg == "--") {
            options = false;
        } else if (arg == "-h" || arg == "--help") {
            o.help = true;
        } else if (arg == "-V" || arg == "--version") {
            o.version = true;
        } else if (arg == "--json" || arg == "--plugin") {
            const Mode mode = arg == "--json" ? Mode::Json : Mode::Plugin;
            if (o.mode != Mode::Report && o.mode != mode) return "--json and --plugin exclude each other";
            o.mode = mode;
        } else if (arg == "-t" || arg == "--timeout") {
            const auto end = value->data() + value->size();
            int seconds = 0;
            const auto [stop, error] = std::from_chars(value->data(), end, seconds);
            if (value->empty() || error != std::errc() || stop != end || seconds < 1 || seconds > 5)
                return "the timeout must be a whole number of seconds from 1 to 5, not '" + *value + "'";
            o.timeout = seconds;
        } else if (arg == "--server") {
            if (!Address::Parse(*value, true)) return "not an IP address: '" + *value + "'";
            o.server = value;
        } else if (arg == "--no-proof") {
            o.proof = false;
        } else {
            return "unknown option '" + arg + "'";
        }
    }
    if (o.domains.empty() && !o.help && !o.version) return "expected at least one DOMAIN";
    return std::nullopt;
}

// The network parameters with one DNS server, the one given by --server.
class OneServer : public platform::NetworkParams {
public:
    explicit OneServer(const std::string& address) {
        std::copy_n(address.begin(), std::min(address.size(), entry_.size() - 1), entry_.begin());
    }
    bool Available() override { return true; }
    std::uint32_t QuerySize(std::uint32_t& size) override {
        size = sizeof entry_;
        return platform::kErrorBufferOverflow;
    }
    std::vector<platform::IpAddressString> DnsServerList(std::uint32_t) override { return {entry_}; }

private:
    platform::IpAddressString entry_{};
};

// A plugin shows no message box, not even as a line of standard error.
struct NoMessageBox : platform::MsgBox {
    void Show(const std::string&, int, const std::string&) override {}
};

// What was written must have reached standard output, or the caller hears.
int Written(std::ostream& out, std::ostream& err, int status, int lost = kStatusIoError) {
    out.flush();
    if (out) return status;
    err << kCannotWrite;
    return lost;
}

}  // namespace

int RunConsoleCheck(const std::vector<std::string>& args, const ConsolePlatform& platform,
                    std::ostream& out, std::ostream& err, const std::string& newline) {
    // A plugin's usage error is one line of its own output: known before parsing.
    const auto dashes = std::find(args.begin(), args.end(), "--");
    const bool plugin = std::find(args.begin(), dashes, "--plugin") != dashes;
    Options o;
    if (const auto error = Parse(args, o)) {
        if (!plugin) {
            err << "tarnwell-check: " << *error << "\n" << Usage();
            return kStatusUsage;
        }
        out << output::PluginUsageError(*error + " (see tarnwell-check --help)") << newline;
        return Written(out, err, output::kPluginUnknown, output::kPluginUnknown);
    }
    if (o.help || o.version) {
        out << (o.help ? Usage() : kVersion);
        return Written(out, err, 0);
    }

    // Only the report mode writes the report; the others let it go by.
    std::ostream discard(nullptr);
    platform::ConsoleView view(o.mode == Mode::Report ? out : discard, newline);
    platform::ConsoleMessageBox consoleBox(err);
    NoMessageBox noBox;
    platform::MsgBox& box = plugin ? static_cast<platform::MsgBox&>(noBox) : consoleBox;
    std::optional<OneServer> given;
    if (o.server) given.emplace(*o.server);
    platform::NetworkParams& params = given ? *given : platform.networkParams;
    CheckState state;
    Fm fm(view, {platform.sockets, params, platform.shells, box, platform.files, platform.tls}, state);
    if (o.timeout) fm.replyWait = std::chrono::seconds(*o.timeout);
    fm.proveAddresses = o.proof;
    const int lost = plugin ? int{output::kPluginUnknown} : int{kStatusIoError};

    fm.Form_Load();
    std::vector<CheckRecord> records;
    std::vector<int> statuses;  // of the console, or of the plugin
    for (const auto& domain : o.domains) {
        view.Cmb1().SetText(domain);
        fm.Cmd1_Click();
        // The report cannot tell a query that never left from a silent server.
        if (!plugin && fm.LastCheckEnd() == CheckEnd::Inconclusive && !fm.LastCheck().sent)
            err << "tarnwell-check: no query was sent to the DNS server\n";
        view.Finish();
        CheckRecord& record = records.emplace_back(fm.LastCheck());
        record.domain = domain;  // as given on the command line
        statuses.push_back(plugin ? int{output::PluginStateOf(record.end)} : int{output::StatusOf(record.end)});
        if (o.mode == Mode::Json) out << output::JsonLine(record) << newline << std::flush;
        if (!out) break;  // no use checking on: nobody reads
    }
    std::int16_t cancel = 0;
    fm.Form_Unload(cancel);
    if (plugin && out)
        for (const auto& line : output::PluginOutput(records)) out << line << newline;
    const int status = output::MostSevere(statuses, plugin ? std::span<const int>(output::kPluginSeverity)
                                                           : std::span<const int>(kConsoleSeverity));
    return Written(out, err, status, lost);
}

}  // namespace tarnwell
