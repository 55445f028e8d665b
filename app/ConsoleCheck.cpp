#include "app/ConsoleCheck.h"

#include "app/CheckOutput.h"
#include "common/Address.h"
#include "common/Text.h"
#include "app/ReportWriter.h"
#include "engine/Check.h"

#include <algorithm>
#include <cerrno>
#include <charconv>
#include <condition_variable>
#include <deque>
#include <filesystem>
#include <fstream>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <sstream>
#include <system_error>
#include <limits>
#include <system_error>
#include <thread>
#include <variant>

namespace tarnwell {

namespace {

constexpr char kUsageHead[] =
    "Usage: tarnwell-check [OPTION]... DOMAIN...\n"
    "  or:  tarnwell-check [OPTION]... -f FILE [DOMAIN]...\n"
    "Checks whether the addresses this computer uses for each DOMAIN have been substituted:\n"
    "compares the computer's own resolver (IPv4 and IPv6, as a browser asks) with direct\n"
    "A and AAAA queries to its first DNS server, and asks the computer's addresses to prove\n"
    "the domain over HTTPS, all at once: every one, 32 at most (those missing from the server's\n"
    "replies first), never 0.0.0.0, :: or loopback (this computer, not the site).\n"
    "A TLS handshake on port 443 with the domain as SNI, the certificate checked against the\n"
    "system's trust store and its subjectAltName DNS names only (RFC 9525), and nothing more.\n"
    "Up to JOBS domains are checked at the same time, each by a check of its own; each\n"
    "domain's output is written whole, in the order given. A DOMAIN must be a web\n"
    "domain's host name (a dot; letters, digits, - and _; IDNA for others): addresses\n"
    "and names without a dot are refused. Up to three queries of each type are sent while\n"
    "an address of the computer's of that family is missing from the replies. Every address\n"
    "of the computer's must prove the domain over HTTPS or be vouched for by the witnesses\n"
    "(with them off, by the server); an address that fails the proof is an impostor; a\n"
    "mismatch needs complete replies (RFC 2181 section 9).\n"
    "When an address could not prove the domain (one of several, a failed certificate, this\n"
    "computer's own address) and no hosts line decides it, the domain's name is sent to\n"
    "independent DNS servers over HTTPS (RFC 8484), the witnesses: by default\n"
    "https://1.1.1.1/dns-query (Cloudflare) and https://8.8.8.8/dns-query (Google), or\n"
    "those of 'witness = URL...' in /etc/tarnwell/tarnwell.conf and then\n"
    "~/.config/tarnwell/tarnwell.conf. 'witness = off' there or --no-witness sends it nowhere.\n"
    "The browser's proxy settings are read as its browsers read them (the environment's\n"
    "variables, GNOME's or KDE's settings, the Internet Options), and an auto-config (PAC)\n"
    "file they name is fetched from where they say and run; 'proxy = off' there or\n"
    "--no-proxy only reads the settings.\n"
    "\n"
    "      --json              one line of JSON per domain instead of the report\n"
    "      --plugin            a monitoring plugin's output and exit status (Nagios, Icinga)\n"
    "  -j, --jobs JOBS         check up to JOBS domains at the same time, 1 to 256 (default 16)\n"
    "  -f, --from FILE         also check the domains of FILE, one a line, after those given\n"
    "                          (- for standard input); blank lines and lines starting with #\n"
    "                          are skipped\n"
    "  -t, --timeout SECONDS   wait up to SECONDS, 1 to 5 (default 5), for the DNS server's\n"
    "                          replies to each domain\n"
    "      --deadline SECONDS  end the run after SECONDS, 1 to 3600: each domain not ended\n"
    "                          by then is written as timeout (exit status 3, plugin UNKNOWN)\n"
    "      --server ADDRESS    ask the DNS server at this IPv4 or IPv6 address instead\n"
    "      --no-proof          no HTTPS proof: no connection to the site's addresses, and no\n"
    "                          witness\n"
    "      --witness URL       ask this witness (an https URL; repeat for several) instead of\n"
    "                          those of the settings files\n"
    "      --no-witness        ask no witness: the domain's name goes to no DNS server over HTTPS\n"
    "      --proxy             fetch and run the browser's proxy PAC file (proxy = auto)\n"
    "      --no-proxy          only read the browser's proxy settings (proxy = off)\n"
    "  -h, --help              show this help and exit\n"
    "  -V, --version           show the version and exit\n"
    "\n"
    "A check waits up to SECONDS for replies and 3 seconds for the HTTPS proof, plus the\n"
    "system resolver's own time (its timeout and attempts in resolv.conf). Without\n"
    "--deadline, a run of N domains takes at most N / JOBS, rounded up, times that.\n"
    "\n";
constexpr char kUsageTail[] =
    "With --plugin: 0 OK, 1 WARNING, 2 CRITICAL, 3 UNKNOWN (usage errors, a failed start, lost output).\n";

constexpr char kVersion[] = "tarnwell-check " TARNWELL_VERSION "\n";
constexpr char kTryHelp[] = "Try 'tarnwell-check --help'.\n";

constexpr int kDefaultJobs = 16, kMaxJobs = 256;

std::string Usage() {
    std::string usage = std::string(kUsageHead) + "Exit status, of several domains the first of";
    const std::size_t n = std::size(kConsoleSeverity);
    for (std::size_t i = 0; i < n; ++i)
        usage += (i == 0 ? " " : i + 1 == n ? " and " : ", ") + std::to_string(kConsoleSeverity[i]);
    usage += " that occurs:\n";
    for (const auto& [status, meaning] : kStatusMeanings) {
        const std::string number = std::to_string(status);
        usage += std::string(5 - number.size(), ' ') + number + "  " + std::string(meaning) + "\n";
    }
    return usage + kUsageTail;
}

enum class Mode { Report, Json, Plugin };

struct Options {
    Mode mode = Mode::Report;
    std::optional<int> timeout;  // seconds
    std::optional<Address> server;
    std::optional<std::string> from;  // a list of domains, "-" for standard input
    int jobs = kDefaultJobs;
    bool proof = true;
    std::vector<Witness> witnesses;  // of --witness
    bool noWitness = false;
    std::optional<bool> proxy;  // --proxy, --no-proxy
    std::optional<int> deadline;  // seconds
    std::vector<std::string> domains;
    bool help = false, version = false;
};

// A whole decimal number from `min` to `max`, or nothing.
std::optional<int> Number(const std::string& text, int min, int max) {
    const auto end = text.data() + text.size();
    int n = 0;
    const auto [stop, error] = std::from_chars(text.data(), end, n);
    if (text.empty() || error != std::errc() || stop != end || n < min || n > max) return std::nullopt;
    return n;
}

bool TakesValue(const std::string& option) {
    for (const char* name : {"-t", "--timeout", "-j", "--jobs", "-f", "--from", "--deadline", "--server", "--witness"})
        if (option == name) return true;
    return false;
}

// The command line as options, or the text of its usage error. As getopt
// takes them, a value may follow a short option at once ("-j8") and a
// long one after "=" ("--jobs=8").
std::optional<std::string> Parse(const std::vector<std::string>& args, Options& o) {
    bool options = true;
    for (std::size_t i = 0; i < args.size(); ++i) {
        std::string arg = args[i];
        if (!text::ValidUtf8(arg)) return "an argument is not valid UTF-8 text";
        if (!options || arg.size() < 2 || arg[0] != '-') {
            o.domains.push_back(arg);
            continue;
        }
        std::optional<std::string> value;
        if (const auto eq = arg.find('='); arg.starts_with("--") && eq != std::string::npos) {
            value = arg.substr(eq + 1);
            arg.resize(eq);
        } else if (arg[1] != '-' && arg.size() > 2 && TakesValue(arg.substr(0, 2))) {
            value = arg.substr(2);
            arg.resize(2);
        }
        const bool takesValue = TakesValue(arg);
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
            o.timeout = Number(*value, 1, 5);
            if (!o.timeout) return "the timeout must be a whole number of seconds from 1 to 5, not '" + *value + "'";
        } else if (arg == "-j" || arg == "--jobs") {
            const auto jobs = Number(*value, 1, kMaxJobs);
            if (!jobs) return "the number of jobs must be a whole number from 1 to 256, not '" + *value + "'";
            o.jobs = *jobs;
        } else if (arg == "--deadline") {
            o.deadline = Number(*value, 1, 3600);
            if (!o.deadline) return "the deadline must be a whole number of seconds from 1 to 3600, not '" + *value + "'";
        } else if (arg == "-f" || arg == "--from") {
            if (o.from) return "only one list of domains (-f) may be given";
            o.from = value;
        } else if (arg == "--server") {
            o.server = Address::Parse(*value, true);
            if (!o.server) return "not an IP address: '" + *value + "'";
        } else if (arg == "--no-proof") {
            o.proof = false;
        } else if (arg == "--witness") {
            auto witness = ParseWitness(*value);
            if (const auto* why = std::get_if<std::string>(&witness)) return *why;
            o.witnesses.push_back(std::get<Witness>(std::move(witness)));
        } else if (arg == "--no-witness") {
            o.noWitness = true;
        } else if (arg == "--proxy" || arg == "--no-proxy") {
            o.proxy = arg == "--proxy";
        } else {
            return "unknown option '" + arg + "'";
        }
    }
    if (o.domains.empty() && !o.from && !o.help && !o.version) return "expected at least one DOMAIN";
    return std::nullopt;
}

// What was written must have reached standard output, or the caller hears.
int Written(std::ostream& out, std::ostream& err, int status, int lost = kStatusIoError) {
    out.flush();
    if (out) return status;
    err << kCannotWrite;
    return lost;
}

// The DNS servers of the first discovery, for every check of a run: the
// platform is asked once, whichever thread asks first.
class SharedServerList : public platform::NetworkParams {
public:
    explicit SharedServerList(platform::NetworkParams& system) : system_(system) {}
    std::optional<std::vector<Address>> DnsServers() override {
        std::call_once(once_, [this] { found_ = system_.DnsServers(); });
        return found_;
    }

private:
    platform::NetworkParams& system_;
    std::once_flag once_;
    std::optional<std::vector<Address>> found_;
};

using Clock = std::chrono::steady_clock;

// One domain of a run: as given, with its line number when read from a list.
struct Item {
    std::string domain;
    std::optional<std::size_t> line;
};

// One domain's check. A worker fills in what it found, then marks it done.
struct Slot {
    Item item;
    enum class State { Queued, Running, Done } state = State::Queued;  // guarded by Run::mutex
    Clock::time_point started;
    CheckRecord record;
    std::string report, notes;  // its report, and its lines for standard error
};

// What the reader, the workers and the writer of a run share; the threads
// left running when the run ends keep it alive.
struct Run {
    std::mutex mutex;
    std::condition_variable changed;
    std::deque<std::shared_ptr<Slot>> order;   // read, not yet written, in the order given
    std::deque<std::shared_ptr<Slot>> queued;  // read, not yet started
    bool inputEnded = false;
    bool closed = false;  // no more checks start
    bool ended = false;   // the writer has ended: read no more
    // The -j workers, started as the domains come: one more whenever a
    // domain is read and none is idle, up to `maxWorkers`.
    std::vector<std::thread> workers;
    std::size_t maxWorkers = 1, idle = 0;
    std::function<void()> work;
    std::function<void(Slot&)> check;  // one domain's check, on the calling thread
};

std::chrono::milliseconds Ms(Clock::duration d) { return std::chrono::duration_cast<std::chrono::milliseconds>(d); }

struct Settings {
    Mode mode;
    std::string newline;
    std::optional<int> timeout;
    bool proof;
    std::optional<Address> server;
    std::vector<Witness> witnesses;
    bool proxy;
};

// The report with `newline` for its CRLF line breaks, ending with one.
std::string WithNewlines(const std::string& report, const std::string& newline) {
    std::string out;
    for (std::size_t i = 0; i < report.size(); ++i) {
        const bool crlf = report.compare(i, 2, "\r\n") == 0;
        out += crlf ? newline : std::string(1, report[i]);
        i += crlf;
    }
    if (!report.empty() && report.back() != '\n') out += newline;
    return out;
}

// One domain's check, through the engine and the window's own report
// writer; its message boxes as lines for standard error, but for a plugin.
void CheckOne(const ConsolePlatform& platform, platform::NetworkParams& servers, const Settings& s, Slot& slot) {
    std::string report, notes;
    const bool plugin = s.mode == Mode::Plugin;
    ReportWriter writer([&](const std::string& piece, bool) { report += piece; },
                        [&](const std::string& prompt, const std::string& title) {
                            if (!plugin) notes += title + ": " + prompt + "\n";
                        });
    const CheckPlatform engine{platform.sockets, servers,       platform.shells, platform.files, platform.tls,
                               platform.http,    {},            nullptr,         platform.proxy};
    CheckOptions options;
    options.witnesses = s.witnesses;
    options.proxy = s.proxy;
    if (s.timeout) options.replyWait = std::chrono::seconds(*s.timeout);
    options.prove = s.proof;
    options.server = s.server;
    // A line of a list that is no UTF-8 text is refused as a blank is.
    const std::string& domain = slot.item.domain;
    slot.record = RunCheck(text::ValidUtf8(domain) ? domain : "", engine, options, writer);
    // The report cannot tell a query that never left from a silent server.
    if (!plugin && slot.record.end == CheckEnd::Inconclusive && !slot.record.sent)
        notes += "tarnwell-check: no query was sent to the DNS server\n";
    slot.record.domain = domain;  // as given
    if (s.mode == Mode::Report) slot.report = WithNewlines(report, s.newline);
    slot.notes = std::move(notes);
}

// Gives the run its domains: those of the command line, then the list's
// lines but blank ones and comments, while fewer than `room` wait to be
// written. A byte order mark before the list's first line is no part of it.
void ReadDomains(Run& run, const std::vector<std::string>& domains, std::istream* list, std::size_t room) {
    const auto give = [&](Item item) {
        std::unique_lock lock(run.mutex);
        run.changed.wait(lock, [&] { return run.ended || run.order.size() < room; });
        if (run.ended) return false;
        auto slot = std::make_shared<Slot>();
        slot->item = std::move(item);
        run.order.push_back(slot);
        run.queued.push_back(std::move(slot));
        if (run.idle < run.queued.size() && run.workers.size() < run.maxWorkers) {
            // A worker that cannot start (a task limit, no memory) leaves its
            // domains to those that did, or to the writer when none did.
            try {
                run.workers.emplace_back(run.work);
            } catch (const std::exception&) {  // no thread, or no room to keep one
                run.maxWorkers = run.workers.size();
            }
        }
        run.changed.notify_all();
        return true;
    };
    bool more = true;
    for (std::size_t i = 0; more && i < domains.size(); ++i) more = give({domains[i], std::nullopt});
    std::string line;
    for (std::size_t n = 1; more && list && std::getline(*list, line); ++n) {
        if (n == 1 && line.starts_with("\xEF\xBB\xBF")) line.erase(0, 3);
        if (line.ends_with('\r')) line.pop_back();
        const auto first = line.find_first_not_of(" \t");
        if (first != std::string::npos && line[first] != '#') more = give({line, n});
    }
    std::lock_guard lock(run.mutex);
    run.inputEnded = true;
    run.changed.notify_all();
}

// Takes the first domain queued and marks it running; run.mutex is held.
std::shared_ptr<Slot> TakeQueued(Run& run) {
    auto slot = std::move(run.queued.front());
    run.queued.pop_front();
    slot->state = Slot::State::Running;
    slot->started = Clock::now();
    return slot;
}

// Checks `slot` with run.mutex released, and marks it done.
void CheckTaken(Run& run, std::unique_lock<std::mutex>& lock, Slot& slot) {
    lock.unlock();
    try {
        run.check(slot);
    } catch (const std::exception&) {  // no memory for what the check needed: it ends undecided, and says so
        slot.record = {};
        slot.record.domain = slot.item.domain;
        slot.record.end = CheckEnd::Inconclusive;
        slot.notes = "tarnwell-check: the check of " + slot.item.domain + " could not be completed\n";
    }
    lock.lock();
    slot.state = Slot::State::Done;
    run.changed.notify_all();
}

// One of the run's -j workers: checks the domains read, one after another,
// until none is left or the run is closed.
void Work(Run& run) {
    std::unique_lock lock(run.mutex);
    for (;;) {
        ++run.idle;
        run.changed.wait(lock, [&] { return run.closed || !run.queued.empty() || run.inputEnded; });
        --run.idle;
        if (run.closed || run.queued.empty()) return;
        CheckTaken(run, lock, *TakeQueued(run));
    }
}

// Writes each domain's output as it comes, in order, and keeps what the
// run's status and the plugin output are made of.
class Outputs {
public:
    Outputs(Mode mode, std::ostream& out, std::ostream& err, const std::string& newline)
        : mode_(mode), out_(out), err_(err), newline_(newline) {}

    // False when standard output is lost.
    bool Write(CheckRecord record, std::optional<std::size_t> line, const std::string& report,
               const std::string& notes) {
        ++count;
        const int status = mode_ == Mode::Plugin ? int{output::PluginStateOf(record.end)} : int{output::StatusOf(record.end)};
        if (std::find(seen_.begin(), seen_.end(), status) == seen_.end()) seen_.push_back(status);
        if (mode_ == Mode::Report && !report.empty()) {
            out_ << (wroteReport_ ? newline_ : "") << report;  // reports one empty line apart
            wroteReport_ = true;
        } else if (mode_ == Mode::Json) {
            out_ << output::JsonLine(record, line) << newline_;
        } else if (mode_ == Mode::Plugin) {
            records.push_back(std::move(record));
        }
        out_.flush();
        err_ << notes << std::flush;
        return static_cast<bool>(out_);
    }
    // A domain whose check had not ended when the deadline passed.
    bool WriteTimedOut(const Item& item, std::chrono::milliseconds elapsed) {
        CheckRecord record;
        record.domain = item.domain;
        record.end = CheckEnd::TimedOut;
        record.elapsed = elapsed;
        return Write(record, item.line, "Проверка не завершена к сроку --deadline. Домен: [" + item.domain + "]" + newline_, "");
    }
    // The exit status: that of the most severe output.
    int Status() const {
        return output::MostSevere(seen_, mode_ == Mode::Plugin ? std::span<const int>(output::kPluginSeverity)
                                                               : std::span<const int>(kConsoleSeverity));
    }

    std::size_t count = 0;
    std::vector<CheckRecord> records;  // --plugin's, whose status line comes first

private:
    Mode mode_;
    std::ostream& out_;
    std::ostream& err_;
    const std::string& newline_;
    std::vector<int> seen_;  // the statuses that occurred, each once
    bool wroteReport_ = false;
};

// After the deadline the rest of the list is written as timed out as long
// as it comes within this much of the one before.
constexpr std::chrono::milliseconds kLateInput{200};

enum class End { Done, Deadline, Interrupted, Lost };

// The in-order writer: each domain's output once it and every one before it
// have ended; after the deadline, those not ended as timed out.
End WriteInOrder(Run& run, Outputs& outputs, std::optional<Clock::time_point> deadline, const std::stop_token& stop) {
    std::unique_lock lock(run.mutex);
    for (;;) {
        if (stop.stop_requested()) return End::Interrupted;
        const bool late = deadline && Clock::now() >= *deadline;
        if (late && !run.closed) {
            run.closed = true;  // no more checks start
            run.changed.notify_all();
        }
        if (!run.order.empty() && (run.order.front()->state == Slot::State::Done || late)) {
            const auto slot = std::move(run.order.front());
            run.order.pop_front();
            const bool done = slot->state == Slot::State::Done;
            const auto elapsed = slot->state == Slot::State::Running ? Ms(*deadline - slot->started) : Ms({});
            run.changed.notify_all();  // room for the reader
            lock.unlock();
            const bool written = done ? outputs.Write(std::move(slot->record), slot->item.line, slot->report, slot->notes)
                                      : outputs.WriteTimedOut(slot->item, elapsed);
            lock.lock();
            if (!written) return End::Lost;
            continue;
        }
        if (run.order.empty() && run.inputEnded) return late ? End::Deadline : End::Done;
        // No worker could start: the writer checks the next domain itself.
        if (run.workers.empty() && run.maxWorkers == 0 && !run.queued.empty() && !late) {
            CheckTaken(run, lock, *TakeQueued(run));
            continue;
        }
        if (late) {
            const bool more = run.changed.wait_for(lock, kLateInput, [&] { return !run.order.empty() || run.inputEnded; });
            if (!more) return End::Deadline;
        } else if (deadline) {
            run.changed.wait_until(lock, *deadline);
        } else {
            run.changed.wait(lock);
        }
    }
}

// What ends a run before any check: its text, whether the hint of --help
// follows it, and the exit status (a plugin's is UNKNOWN whatever it is).
struct Fault {
    std::string text;
    bool tryHelp = false;
    int status = kStatusUsage;
};

int Refuse(const Fault& f, bool plugin, std::ostream& out, std::ostream& err, const std::string& newline) {
    if (!plugin) {
        err << "tarnwell-check: " << f.text << "\n" << (f.tryHelp ? kTryHelp : "") << std::flush;
        return f.status;
    }
    // A plugin's usage error is one line of its own output.
    out << output::PluginUsageError(f.status == kStatusUsage ? f.text + " (see tarnwell-check --help)" : f.text)
        << newline;
    return Written(out, err, output::kPluginUnknown, output::kPluginUnknown);
}

// The list of -f, opened before any check and read as the checks go: the
// caller's standard input for "-"; none without -f.
std::variant<std::shared_ptr<std::istream>, Fault> OpenList(const Options& o, std::istream* in) {
    if (o.from == "-") return std::shared_ptr<std::istream>(std::shared_ptr<std::istream>(), in);  // the caller's
    if (!o.from) return std::shared_ptr<std::istream>();
    const std::filesystem::path path(std::u8string(o.from->begin(), o.from->end()));
    auto file = std::make_shared<std::ifstream>();
    std::error_code ec;
    std::string reason = "it is a directory";
    if (!std::filesystem::is_directory(path, ec)) {
        errno = 0;
        file->open(path, std::ios::binary);
        reason = errno ? std::generic_category().message(errno) : "it cannot be opened";
    }
    if (!file->is_open()) return Fault{"cannot read '" + *o.from + "': " + reason};
    return file;
}

// The choices of the command line, and of the settings files for the rest:
// no witness with --no-witness, nor with --no-proof (without the proof none
// is asked), else those of --witness, else the files'; the proxy as
// --proxy or --no-proxy say, else as the files do. The files are read
// unless the command line makes every choice; one that is wrong or cannot
// be read is a usage error, the check does not run on guesses.
std::variant<Choices, Fault> Choose(const Options& o, platform::Files& files) {
    Choices chosen;
    const bool witnessGiven = o.noWitness || !o.proof || !o.witnesses.empty();
    if (!witnessGiven || !o.proxy) {
        auto loaded = LoadSettings(files);
        if (const auto* fault = std::get_if<std::string>(&loaded)) return Fault{*fault};
        chosen = std::get<Choices>(std::move(loaded));
    }
    if (witnessGiven) chosen.witnesses = o.noWitness || !o.proof ? std::vector<Witness>{} : o.witnesses;
    chosen.proxy = o.proxy.value_or(chosen.proxy);
    return chosen;
}

// The run of `settings`' checks, its -j workers started as the domains come,
// and its reader of the domains started: on a thread of its own, or, when
// none can be had, on this one, the list read whole first.
std::shared_ptr<Run> StartRun(const ConsolePlatform& platform, Settings settings, const Options& o,
                              std::shared_ptr<std::istream> list, std::thread& reader) {
    const auto servers = std::make_shared<SharedServerList>(platform.networkParams);
    const auto run = std::make_shared<Run>();
    run->maxWorkers = static_cast<std::size_t>(o.jobs);
    run->check = [platform, servers, settings](Slot& slot) { CheckOne(platform, *servers, settings, slot); };
    // The workers hold the run only through this: it lives as long as the last of them.
    run->work = [weak = std::weak_ptr<Run>(run)] {
        if (const auto kept = weak.lock()) Work(*kept);
    };
    const std::size_t room = 4 * static_cast<std::size_t>(o.jobs);  // domains read but not yet written
    try {
        reader = std::thread([run, domains = o.domains, list, room] { ReadDomains(*run, domains, list.get(), room); });
    } catch (const std::system_error&) {
        ReadDomains(*run, o.domains, list.get(), std::numeric_limits<std::size_t>::max());
    }
    return run;
}

// Closes the run: checks still running are left to themselves, and so is a
// reader that waits for input; idle workers end.
void EndRun(Run& run, std::thread& reader, End end) {
    std::unique_lock lock(run.mutex);
    run.closed = run.ended = true;
    run.changed.notify_all();
    const bool busy = end == End::Deadline || std::any_of(run.order.begin(), run.order.end(), [](const auto& slot) {
                          return slot->state == Slot::State::Running;
                      });
    if (reader.joinable()) run.inputEnded ? reader.join() : reader.detach();
    std::vector<std::thread> workers = std::move(run.workers);  // no more start: the run is closed
    lock.unlock();
    for (auto& worker : workers) busy ? worker.detach() : worker.join();
}

}  // namespace

int RunConsoleCheck(const std::vector<std::string>& args, const ConsolePlatform& platform,
                    std::ostream& out, std::ostream& err, const std::string& newline,
                    std::istream* in, std::stop_token stop) {
    const auto begun = Clock::now();
    // Plugin mode is known before parsing: a usage error is its output too.
    const auto dashes = std::find(args.begin(), args.end(), "--");
    const bool plugin = std::find(args.begin(), dashes, "--plugin") != dashes;
    const auto refuse = [&](const Fault& fault) { return Refuse(fault, plugin, out, err, newline); };
    Options o;
    if (const auto error = Parse(args, o)) return refuse({*error, true});
    if (o.help || o.version) {
        out << (o.help ? Usage() : kVersion);
        return Written(out, err, 0);
    }
    // No check without sockets.
    if (const int started = platform.sockets.Start(); started != 0)
        return refuse({"WSAStartup failed (" + std::to_string(started) + ")", false, kStatusOsError});
    auto list = OpenList(o, in);
    if (const auto* fault = std::get_if<Fault>(&list)) return refuse(*fault);
    auto chosen = Choose(o, platform.files);
    if (const auto* fault = std::get_if<Fault>(&chosen)) return refuse(*fault);

    auto& choices = std::get<Choices>(chosen);
    Settings settings{o.mode, newline, o.timeout, o.proof, o.server, std::move(choices.witnesses), choices.proxy};
    std::thread reader;
    const auto run = StartRun(platform, std::move(settings), o, std::get<0>(std::move(list)), reader);
    const std::stop_callback wake(stop, [run] {
        std::lock_guard lock(run->mutex);
        run->changed.notify_all();
    });
    std::optional<Clock::time_point> deadline;
    if (o.deadline) deadline = begun + std::chrono::seconds(*o.deadline);
    Outputs outputs(o.mode, out, err, newline);
    const End end = WriteInOrder(*run, outputs, deadline, stop);
    EndRun(*run, reader, end);

    if (end == End::Interrupted) return kStatusInterrupted;
    if (end == End::Done && outputs.count == 0) return refuse({"expected at least one DOMAIN: the list has none", true});
    const int lost = plugin ? int{output::kPluginUnknown} : int{kStatusIoError};
    if (plugin && out)
        for (const auto& line : output::PluginOutput(outputs.records, Ms(Clock::now() - begun)))
            out << line << newline;
    return Written(out, err, outputs.Status(), lost);
}

}  // namespace tarnwell
