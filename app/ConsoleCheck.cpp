#include "app/ConsoleCheck.h"

#include "app/CheckOutput.h"
#include "common/Address.h"
#include "common/Text.h"
#include "platform/console/ConsoleView.h"

#include <algorithm>
#include <cerrno>
#include <charconv>
#include <condition_variable>
#include <deque>
#include <filesystem>
#include <fstream>
#include <memory>
#include <mutex>
#include <optional>
#include <sstream>
#include <system_error>
#include <thread>

namespace tarnwell {

namespace {

constexpr char kUsageHead[] =
    "Usage: tarnwell-check [OPTION]... DOMAIN...\n"
    "  or:  tarnwell-check [OPTION]... -f FILE [DOMAIN]...\n"
    "Checks whether the addresses this computer uses for each DOMAIN have been substituted:\n"
    "compares the computer's own resolver (IPv4 and IPv6, as a browser asks) with direct\n"
    "A and AAAA queries to its first DNS server, and asks each of the computer's first four\n"
    "addresses to prove the domain over HTTPS: a TLS handshake on port 443 with the domain\n"
    "as SNI, its certificate checked against the system's trust store, and nothing more.\n"
    "Up to JOBS domains are checked at the same time, each by a check of its own; each\n"
    "domain's output is written whole, in the order given. A DOMAIN must be a web\n"
    "domain's host name (a dot; letters, digits, - and _; IDNA for others): addresses\n"
    "and names without a dot are refused. Up to three queries of each type are sent while\n"
    "an address of the computer's of that family is missing from the replies. Every address\n"
    "of the computer's must be among the server's, or prove the domain over HTTPS with no\n"
    "hosts line mapping it; an address that fails the proof is an impostor; a mismatch needs\n"
    "complete replies (RFC 2181 section 9).\n"
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
    "      --no-proof          no HTTPS proof: no connection to the site's addresses\n"
    "  -h, --help              show this help and exit\n"
    "  -V, --version           show the version and exit\n"
    "\n"
    "A check waits up to SECONDS for replies and 3 seconds for the HTTPS proof, plus the\n"
    "system resolver's own time (its timeout and attempts in resolv.conf). Without\n"
    "--deadline, a run of N domains takes at most N / JOBS, rounded up, times that.\n"
    "\n";
constexpr char kUsageTail[] =
    "With --plugin: 0 OK, 1 WARNING, 2 CRITICAL, 3 UNKNOWN (usage errors and lost output too).\n";

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
    std::optional<std::string> server;
    std::optional<std::string> from;  // a list of domains, "-" for standard input
    int jobs = kDefaultJobs;
    bool proof = true;
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
    for (const char* name : {"-t", "--timeout", "-j", "--jobs", "-f", "--from", "--deadline", "--server"})
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
            if (!Address::Parse(*value, true)) return "not an IP address: '" + *value + "'";
            o.server = value;
        } else if (arg == "--no-proof") {
            o.proof = false;
        } else {
            return "unknown option '" + arg + "'";
        }
    }
    if (o.domains.empty() && !o.from && !o.help && !o.version) return "expected at least one DOMAIN";
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

// The DNS servers of the first discovery, for every check of a run: the
// platform is asked once, whichever thread asks first.
class SharedServerList : public platform::NetworkParams {
public:
    SharedServerList(platform::NetworkParams& system, const std::optional<std::string>& given) : system_(system) {
        if (given) given_.emplace(*given);
    }
    bool Available() override { return Discover().available; }
    std::uint32_t QuerySize(std::uint32_t& size) override {
        size = Discover().size;
        return found_.code;
    }
    std::vector<platform::IpAddressString> DnsServerList(std::uint32_t) override { return Discover().list; }

private:
    struct Found {
        bool available = false;
        std::uint32_t size = 0, code = 0;
        std::vector<platform::IpAddressString> list;
    };
    const Found& Discover() {
        std::call_once(once_, [this] {
            platform::NetworkParams& params = given_ ? *given_ : system_;
            Found found;
            found.available = params.Available();
            if (found.available) found.code = params.QuerySize(found.size);
            if (found.code == platform::kErrorBufferOverflow) found.list = params.DnsServerList(found.size);
            found_ = std::move(found);
        });
        return found_;
    }
    platform::NetworkParams& system_;
    std::optional<OneServer> given_;
    std::once_flag once_;
    Found found_;
};

// One domain of a run: as given, with its line number when read from a list.
struct Item {
    std::string domain;
    std::optional<std::size_t> line;
};

// One check of a run. Its thread fills in what it found, then sets `ended`.
struct Job {
    Item item;
    std::chrono::steady_clock::time_point started;
    CheckRecord record;
    std::string report, notes;  // its report, and its lines for standard error
    bool ended = false;         // guarded by Run::mutex
    std::thread thread;         // the writer's
};

// What the reader, the checks and the writer of a run share; the threads
// left running when the run ends keep it alive.
struct Run {
    std::mutex mutex;
    std::condition_variable changed;
    std::deque<Item> read;  // read, not yet started
    std::size_t running = 0;
    bool inputEnded = false;
    bool closed = false;  // the writer has ended: read no more
};

std::chrono::milliseconds Ms(std::chrono::steady_clock::duration d) {
    return std::chrono::duration_cast<std::chrono::milliseconds>(d);
}

struct Settings {
    Mode mode;
    std::string newline;
    std::optional<int> timeout;
    bool proof;
};

// One check, exactly the window's, with a window logic, check state and
// view of its own; its report and message boxes kept for the writer.
void Check(const ConsolePlatform& platform, platform::NetworkParams& servers, const Settings& s, Job& job) {
    std::ostringstream report, notes;
    platform::ConsoleView view(report, s.newline);
    platform::ConsoleMessageBox consoleBox(notes);
    NoMessageBox noBox;
    const bool plugin = s.mode == Mode::Plugin;
    platform::MsgBox& box = plugin ? static_cast<platform::MsgBox&>(noBox) : consoleBox;
    CheckState state;
    Fm fm(view, {platform.sockets, servers, platform.shells, box, platform.files, platform.tls}, state);
    if (s.timeout) fm.replyWait = std::chrono::seconds(*s.timeout);
    fm.proveAddresses = s.proof;
    fm.Form_Load();
    // A line of a list that is no UTF-8 text is refused as a blank is.
    view.Cmb1().SetText(text::ValidUtf8(job.item.domain) ? job.item.domain : "");
    fm.Cmd1_Click();
    // The report cannot tell a query that never left from a silent server.
    if (!plugin && fm.LastCheckEnd() == CheckEnd::Inconclusive && !fm.LastCheck().sent)
        notes << "tarnwell-check: no query was sent to the DNS server\n";
    view.Finish();
    job.record = fm.LastCheck();
    job.record.domain = job.item.domain;  // as given
    std::int16_t cancel = 0;
    fm.Form_Unload(cancel);
    if (s.mode == Mode::Report) job.report = report.str();
    job.notes = notes.str();
}

// Gives the run its domains: those of the command line, then the list's
// lines but blank ones and comments, while fewer than `room` wait.
void ReadDomains(Run& run, const std::vector<std::string>& domains, std::istream* list, std::size_t room) {
    const auto give = [&](Item item) {
        std::unique_lock lock(run.mutex);
        run.changed.wait(lock, [&] { return run.closed || run.read.size() < room; });
        if (run.closed) return false;
        run.read.push_back(std::move(item));
        run.changed.notify_all();
        return true;
    };
    bool more = true;
    for (std::size_t i = 0; more && i < domains.size(); ++i) more = give({domains[i], std::nullopt});
    std::string line;
    for (std::size_t n = 1; more && list && std::getline(*list, line); ++n) {
        if (line.ends_with('\r')) line.pop_back();
        const auto first = line.find_first_not_of(" \t");
        if (first != std::string::npos && line[first] != '#') more = give({line, n});
    }
    std::lock_guard lock(run.mutex);
    run.inputEnded = true;
    run.changed.notify_all();
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

}  // namespace

int RunConsoleCheck(const std::vector<std::string>& args, const ConsolePlatform& platform,
                    std::ostream& out, std::ostream& err, const std::string& newline,
                    std::istream* in, std::stop_token stop) {
    using Clock = std::chrono::steady_clock;
    const auto begun = Clock::now();
    // A plugin's usage error is one line of its own output: known before parsing.
    const auto dashes = std::find(args.begin(), args.end(), "--");
    const bool plugin = std::find(args.begin(), dashes, "--plugin") != dashes;
    const auto usageError = [&](const std::string& error, bool tryHelp) {
        if (!plugin) {
            err << "tarnwell-check: " << error << "\n" << (tryHelp ? kTryHelp : "") << std::flush;
            return int{kStatusUsage};
        }
        out << output::PluginUsageError(error + " (see tarnwell-check --help)") << newline;
        return Written(out, err, output::kPluginUnknown, output::kPluginUnknown);
    };
    Options o;
    if (const auto error = Parse(args, o)) return usageError(*error, true);
    if (o.help || o.version) {
        out << (o.help ? Usage() : kVersion);
        return Written(out, err, 0);
    }

    // The list is opened before any check; it is read as the checks go.
    std::shared_ptr<std::istream> list;
    if (o.from == "-") {
        list = std::shared_ptr<std::istream>(std::shared_ptr<std::istream>(), in);  // the caller's
    } else if (o.from) {
        const std::filesystem::path path(std::u8string(o.from->begin(), o.from->end()));
        auto file = std::make_shared<std::ifstream>();
        std::error_code ec;
        std::string reason = "it is a directory";
        if (!std::filesystem::is_directory(path, ec)) {
            errno = 0;
            file->open(path, std::ios::binary);
            reason = errno ? std::generic_category().message(errno) : "it cannot be opened";
        }
        if (!file->is_open()) return usageError("cannot read '" + *o.from + "': " + reason, false);
        list = std::move(file);
    }

    const std::size_t room = 4 * static_cast<std::size_t>(o.jobs);  // domains started but not yet written
    const Clock::time_point deadline = begun + std::chrono::seconds(o.deadline.value_or(0));
    const Settings settings{o.mode, newline, o.timeout, o.proof};
    const auto servers = std::make_shared<SharedServerList>(platform.networkParams, o.server);
    const auto run = std::make_shared<Run>();
    std::thread reader([run, domains = o.domains, list, room] { ReadDomains(*run, domains, list.get(), room); });
    const std::stop_callback wake(stop, [run] {
        std::lock_guard lock(run->mutex);
        run->changed.notify_all();
    });

    Outputs outputs(o.mode, out, err, newline);
    std::deque<std::shared_ptr<Job>> window;  // started, in the order given, not yet written
    enum class End { Done, Deadline, Interrupted, Lost } end = End::Done;
    std::unique_lock lock(run->mutex);
    for (;;) {
        while (!run->read.empty() && run->running < static_cast<std::size_t>(o.jobs) && window.size() < room) {
            auto job = std::make_shared<Job>();
            job->item = std::move(run->read.front());
            run->read.pop_front();
            job->started = Clock::now();
            ++run->running;
            job->thread = std::thread([run, job, platform, servers, settings] {
                Check(platform, *servers, settings, *job);
                std::lock_guard ended(run->mutex);
                job->ended = true;
                --run->running;
                run->changed.notify_all();
            });
            window.push_back(std::move(job));
            run->changed.notify_all();  // room for the reader
        }
        if (stop.stop_requested()) {
            end = End::Interrupted;
            break;
        }
        if (!window.empty() && window.front()->ended) {
            const auto job = std::move(window.front());
            window.pop_front();
            lock.unlock();
            job->thread.join();
            const bool written = outputs.Write(std::move(job->record), job->item.line, job->report, job->notes);
            lock.lock();
            if (!written) {
                end = End::Lost;
                break;
            }
            continue;
        }
        if (window.empty() && run->read.empty() && run->inputEnded) break;
        if (o.deadline && Clock::now() >= deadline) {
            end = End::Deadline;
            break;
        }
        if (o.deadline) run->changed.wait_until(lock, deadline);
        else run->changed.wait(lock);
    }

    if (end == End::Deadline) {
        // Every domain not ended gets its timeout: those started, those read,
        // and the rest of the list as long as it comes without a wait.
        const auto now = Clock::now();
        for (bool written = true; written;) {
            if (!window.empty()) {
                const auto job = std::move(window.front());
                window.pop_front();
                const bool ended = job->ended;
                lock.unlock();
                ended ? job->thread.join() : job->thread.detach();
                written = ended ? outputs.Write(std::move(job->record), job->item.line, job->report, job->notes)
                                : outputs.WriteTimedOut(job->item, Ms(now - job->started));
            } else {
                const auto more = [&] { return !run->read.empty() || run->inputEnded; };
                if (!run->changed.wait_for(lock, std::chrono::milliseconds(200), more) || run->read.empty()) break;
                const Item item = std::move(run->read.front());
                run->read.pop_front();
                run->changed.notify_all();
                lock.unlock();
                written = outputs.WriteTimedOut(item, {});
            }
            lock.lock();
        }
    }
    // Checks still running are left to themselves, and so is a reader that waits for input.
    run->closed = true;
    run->changed.notify_all();
    for (const auto& job : window) job->ended ? job->thread.join() : job->thread.detach();
    run->inputEnded ? reader.join() : reader.detach();
    lock.unlock();

    if (end == End::Interrupted) return kStatusInterrupted;
    if (end == End::Done && outputs.count == 0) return usageError("expected at least one DOMAIN: the list has none", true);
    const int lost = plugin ? int{output::kPluginUnknown} : int{kStatusIoError};
    if (plugin && out)
        for (const auto& line : output::PluginOutput(outputs.records, Ms(Clock::now() - begun)))
            out << line << newline;
    return Written(out, err, outputs.Status(), lost);
}

}  // namespace tarnwell
