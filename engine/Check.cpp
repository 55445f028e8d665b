#include "engine/Check.h"

#include "common/Failure.h"
#include "common/Step.h"
#include "common/Text.h"
#include "engine/BrowserProxy.h"
#include "resolve/HostName.h"
#include "resolve/Verdict.h"

#include <algorithm>
#include <map>
#include <mutex>
#include <tuple>

namespace tarnwell {

std::optional<Address> CheckRecord::SystemAddress() const {
    const auto v4 = std::find_if(systemAddresses.begin(), systemAddresses.end(), [](const Address& a) { return a.IsV4(); });
    if (v4 != systemAddresses.end()) return *v4;
    if (systemAddresses.empty()) return std::nullopt;
    return systemAddresses.front();
}

std::optional<Address> CheckRecord::Decisive() const {
    const auto* decisive = judgement.Decisive();
    return decisive ? std::optional<Address>(decisive->address) : std::nullopt;
}

const AddressProof* CheckRecord::ProofOf(const Address& address) const {
    const auto found = std::find_if(proofs.begin(), proofs.end(), [&](const AddressProof& p) {
        return p.address == address && p.via.scheme == platform::ProxyScheme::Direct;
    });
    return found == proofs.end() ? nullptr : &*found;
}

const AddressProof* CheckRecord::DecisiveProxy() const {
    std::size_t k = 0;
    for (const auto& p : proofs)
        if (p.via.scheme != platform::ProxyScheme::Direct && k++ == judgement.decisiveProxy) return &p;
    return nullptr;
}

std::string CheckRecord::DecisiveWitnesses() const {
    const auto* decisive = judgement.Decisive();
    std::string named;
    if (!decisive || !witness) return named;
    for (const auto i : decisive->witnesses)
        if (i < witness->hosts.size()) named += (named.empty() ? "" : ", ") + witness->hosts[i];
    return named;
}

namespace {

using Clock = std::chrono::steady_clock;

class Check {
public:
    Check(const CheckPlatform& platform, const CheckOptions& options, CheckListener& listener)
        : platform_(platform), options_(options), listener_(listener) {}

    CheckRecord Run(const std::string& domain) {
        const auto started = Clock::now();
        // The text as typed, without the blanks around it.
        record_.domain = text::TrimSpaces(domain);
        Stages();
        record_.elapsed = std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - started);
        return std::move(record_);
    }

private:
    void Tell(const CheckEvent& event) { listener_.On(event, record_); }

    void Stages() {
        // The name both lookups ask for, or a text that is no web domain,
        // refused before either.
        if (!Step([&] { name_ = MakeHostName(record_.domain); })) {
            record_.end = CheckEnd::Rejected;
            return Tell(event::Rejected{});
        }
        record_.queryName = name_.ace;
        Tell(event::Begun{});
        Step([&] { record_.systemAddresses = Resolve(name_.ace); });
        Tell(event::Resolved{});
        if (record_.systemAddresses.empty()) {
            record_.end = CheckEnd::ResolverFailed;
            return;
        }
        FindProxy();
        Tell(event::QueryBegun{});
        const auto server = Server();
        if (!server) {
            record_.end = CheckEnd::NoServer;
            return Tell(event::NoServer{});
        }
        record_.server = server;
        Tell(event::ServerChosen{});
        const DirectAnswer answer = Query(*server);
        Prove();
        Evidence evidence{record_.systemAddresses, record_.serverAddresses, answer.a.Whole(), answer.aaaa.Whole()};
        for (const auto& p : record_.proofs)
            if (p.via.scheme == platform::ProxyScheme::Direct) evidence.proofs.push_back(p);
        evidence.localName = UnderLocalhost(name_.ace);
        evidence.proxy = Road();
        WeighHostsFile(evidence);
        if (options_.prove && NeedsWitness(evidence)) AskWitnesses(evidence);
        Conclude(evidence);
    }

    // The computer's own resolver; a window is served while it runs.
    std::vector<Address> Resolve(const std::string& name) {
        const auto lookup = [&sockets = platform_.sockets, name] {
            return sockets.GetAddrInfo(name).value_or(std::vector<Address>{});
        };
        return platform_.serve ? platform::RunServed(platform_.serve, lookup) : lookup();
    }

    // The browser's proxy for the name, bounded as a whole; a window is
    // served while it is found.
    void FindProxy() {
        if (!platform_.proxy) return;
        const auto find = [services = Services(), host = name_.ace, run = options_.proxy,
                           deadline = Clock::now() + kProxyWait] {
            std::string script;
            auto found = FindBrowserProxy(host, services, run, deadline, &script);
            return std::make_pair(std::move(found), std::move(script));
        };
        Step([&] {
            std::tie(record_.proxy, script_) = platform_.serve ? platform::RunServed(platform_.serve, find) : find();
        });
        if (record_.proxy) Tell(event::ProxyFound{});
    }

    ProxyServices Services() const {
        return {*platform_.proxy, platform_.http, platform_.files, platform_.sockets};
    }

    // The proxy a request of the check's own to `url` goes through, found
    // by `roadDeadline_`; straight when even that cannot be had. Called only
    // while the stage that asks runs (Tls::ProbeRoutes says so of its road).
    platform::ProxyEntry RoadFor(const std::string& url) noexcept {
        if (!platform_.proxy || !record_.proxy) return {};
        try {
            std::lock_guard lock(roadsMutex_);  // an issuer may be fetched on a verifying thread
            auto& known = roads_[url];
            if (!known) known = RoadOf(record_.proxy, script_, url, Services(), roadDeadline_);
            return *known;
        } catch (...) {  // no memory for it: the request goes as it would without a proxy
            return {};
        }
    }

    // The browser's road as the verdict weighs it, when a proxy is set.
    std::optional<ProxyEvidence> Road() const {
        if (!record_.proxy) return std::nullopt;
        const auto& p = *record_.proxy;
        ProxyEvidence road{p.entries};
        road.doubt = !p.checked                    ? ProxyDoubt::Unchecked
                     : p.error != PacError::None    ? ProxyDoubt::Unknown
                     : p.Differs()                  ? ProxyDoubt::Differs
                     : p.Proxied() && !options_.prove ? ProxyDoubt::NoProof
                                                    : ProxyDoubt::None;
        for (const auto& proof : record_.proofs)
            if (proof.via.scheme != platform::ProxyScheme::Direct) road.proofs.push_back(proof);
        return road;
    }

    // The first configured DNS server, or the one the options name.
    std::optional<Address> Server() {
        if (options_.server) return options_.server;
        std::optional<std::vector<Address>> servers;
        Step([&] { servers = platform_.networkParams.DnsServers(); });
        if (!servers) Tell(event::ServiceMissing{});
        if (!servers || servers->empty()) return std::nullopt;
        return servers->front();
    }

    DirectAnswer Query(const Address& server) {
        QueryContext context{platform_.sockets, options_.replyWait, kDnsPort, platform_.serve, [&](const Address& a) {
                                 record_.serverAddresses.push_back(a);
                                 Tell(event::ServerAddress{a});
                             }};
        DirectAnswer answer;
        Step([&] { answer = QueryServer(name_.qname, server, record_.systemAddresses, context); });
        record_.sent = answer.sent;
        if (answer.rcode) record_.rcode = *answer.rcode;
        return answer;
    }

    // The computer's addresses, then the proxies of the browser's road (each
    // asked for a tunnel to the name), asked to prove the name over HTTPS
    // all at once; each proof is told in that order, as soon as it and every
    // one before it have ended. A proxy whose host does not resolve refused.
    void Prove() {
        if (!options_.prove) return;
        const auto deadline = Clock::now() + options_.proofWait;
        roadDeadline_ = deadline;
        std::vector<platform::ProbeRoute> targets;
        for (const auto& a : ProbeTargets(record_.systemAddresses, record_.serverAddresses)) targets.push_back({a});
        std::vector<std::optional<platform::Proof>> ended(targets.size());
        std::vector<platform::ProxyEntry> proxies;
        if (record_.proxy && record_.proxy->checked)
            for (const auto& e : record_.proxy->entries)
                if (e.scheme != platform::ProxyScheme::Direct) proxies.push_back(e);
        // The proxies' names all looked up at once, in a share of the time.
        std::vector<std::optional<Address>> addresses(proxies.size());
        const auto lookup = [proxies, &sockets = platform_.sockets, by = std::min(deadline, Clock::now() + kProxyLookupWait)] {
            return ProxyAddresses(proxies, sockets, by);
        };
        if (!proxies.empty()) Step([&] { addresses = platform_.serve ? platform::RunServed(platform_.serve, lookup) : lookup(); });
        for (std::size_t i = 0; i < proxies.size(); ++i) {
            targets.push_back({addresses[i].value_or(Address{}), proxies[i].port, proxies[i]});
            ended.push_back(addresses[i] ? std::nullopt : std::optional(platform::Unknown(platform::ProofReason::Refused)));
        }
        if (targets.empty()) return;
        Tell(event::ProofBegun{});
        std::size_t told = 0;
        const auto tellReady = [&] {
            for (; told < targets.size() && ended[told]; ++told) {
                record_.proofs.push_back({targets[told].address, *ended[told], targets[told].via});
                Tell(event::Proved{told});
            }
        };
        std::vector<platform::ProbeRoute> routes;
        std::vector<std::size_t> of;  // the target of each route
        for (std::size_t i = 0; i < targets.size(); ++i)
            if (!ended[i]) routes.push_back(targets[i]), of.push_back(i);
        tellReady();
        platform_.tls.ProbeRoutes(
            routes, name_.ace, deadline, platform_.serve,
            [&](std::size_t k, const platform::Proof& proof) {
                ended[of[k]] = proof;
                tellReady();
            },
            [this](const std::string& url) { return RoadFor(url); });  // every route is heard of, a timed-out one included
    }

    // The witnesses, asked when an address could not prove the name and no
    // hosts line already decides it.
    void AskWitnesses(Evidence& evidence) {
        if (options_.witnesses.empty()) return;
        WitnessRecord witness;
        for (const auto& w : options_.witnesses) witness.asked.push_back(w.url);
        const bool aaaa = std::any_of(record_.systemAddresses.begin(), record_.systemAddresses.end(),
                                      [](const Address& a) { return !a.IsV4(); });
        WitnessAnswer answer;  // silent, should the asking itself fail
        roadDeadline_ = Clock::now() + options_.witnessWait;
        Step([&] {
            answer = tarnwell::AskWitnesses(platform_.http, witness.asked, name_.qname, aaaa, options_.witnessWait,
                                            platform_.serve, [this](const std::string& url) { return RoadFor(url); });
        });
        // Named: those that answered, or all those asked when none did.
        std::vector<std::size_t> named = answer.answered;
        if (named.empty())
            for (std::size_t i = 0; i < options_.witnesses.size(); ++i) named.push_back(i);
        for (const auto i : answer.answered) witness.answered.push_back(options_.witnesses[i].url);
        for (const auto i : named) witness.named += (witness.named.empty() ? "" : ", ") + options_.witnesses[i].host;
        for (const auto& w : options_.witnesses) witness.hosts.push_back(w.host);
        witness.result = answer.result;
        witness.addresses = answer.addresses;
        record_.witness = std::move(witness);
        evidence.witness = std::move(answer);
        Tell(event::Witnessed{});
    }

    // Loopback, or an address of one of the computer's own interfaces (a
    // caching server on its LAN address).
    bool OnThisComputer(const Address& server) {
        if (server.IsLoopback()) return true;
        std::vector<Address> own;
        Step([&] { own = platform_.sockets.InterfaceAddresses(); });
        return std::any_of(own.begin(), own.end(), [&](const Address& a) {
            return std::equal(a.Bytes().begin(), a.Bytes().end(), server.Bytes().begin(), server.Bytes().end());
        });
    }

    // The hosts file is looked up silently where the verdict needs it:
    // whether a line maps the name, for an address missing from the
    // server's; whether a server on this computer may echo a line.
    void WeighHostsFile(Evidence& evidence) {
        const bool local = OnThisComputer(*record_.server);
        if (!local && Missing(record_.systemAddresses, record_.serverAddresses).empty()) return;
        FindHostsLines(RegistryDirectory(false));
        evidence.hostsLineMaps = record_.HostsMayMap();
        evidence.echo = local && EchoesHostsFile();
    }

    void Conclude(const Evidence& evidence) {
        record_.judgement = Decide(evidence);
        const Verdict verdict = record_.judgement.verdict;
        constexpr std::pair<Verdict, CheckEnd> kEnds[] = {
            {Verdict::Match, CheckEnd::Match},           {Verdict::Proven, CheckEnd::Proven},
            {Verdict::Impostor, CheckEnd::Impostor},     {Verdict::Blocked, CheckEnd::Blocked},
            {Verdict::Disputed, CheckEnd::Disputed},     {Verdict::Mismatch, CheckEnd::Mismatch},
            {Verdict::Unproven, CheckEnd::Unproven},     {Verdict::Filtered, CheckEnd::Filtered},
            {Verdict::Unverified, CheckEnd::Unverified}, {Verdict::Unconfirmed, CheckEnd::Unconfirmed}};
        record_.end = CheckEnd::Inconclusive;
        for (const auto& [v, end] : kEnds)
            if (v == verdict) record_.end = end;
        Tell(event::Concluded{});
        if (verdict == Verdict::Match || verdict == Verdict::Proven) return;
        if (verdict == Verdict::Mismatch) {
            const std::string directory = RegistryDirectory(true);
            Tell(event::RegistryRead{directory});
            FindHostsLines(directory);
        } else if (!record_.hostsFile) {
            FindHostsLines(RegistryDirectory(false));
        }
        Tell(event::HostsRead{});
    }

    // Whether a hosts line, any of them, maps the name to an address of the computer's.
    bool EchoesHostsFile() const {
        const auto& computer = record_.systemAddresses;
        const auto& mapped = record_.hostsLines.addresses;
        return std::any_of(mapped.begin(), mapped.end(), [&](const Address& a) {
            return std::find(computer.begin(), computer.end(), a) != computer.end();
        });
    }

    // The registry's hosts directory, as read: on a mismatch through a new
    // shell object kept where the caller keeps it (one that cannot be
    // created leaves the one of an earlier mismatch in place); otherwise
    // through one of its own.
    std::string RegistryDirectory(bool mismatch) {
        std::unique_ptr<platform::Shell> own;
        auto& holder = mismatch && platform_.mismatchShell ? *platform_.mismatchShell : own;
        Step([&] { holder = platform_.shells.CreateObject(platform::kShellProgId); });
        std::string directory;
        Step([&] {
            if (!holder) throw Failure("no shell object");
            directory = holder->RegRead(platform::kDataBasePath);
        });
        return directory;
    }

    // The lines of the hosts file in `directory` that map the name, read
    // to its end as it streams in; once a check, again only when the
    // registry named another directory. A missing file has no lines, as the
    // resolver reads none.
    void FindHostsLines(const std::string& directory) {
        std::optional<std::string> path;
        Step([&] { path = platform_.files.HostsPath(directory); });
        if (!path || path == record_.hostsFile) return;
        record_.hostsFile = path;
        hosts::Finder finder(name_.ace, platform_.files.Syntax());
        std::optional<platform::ReadFault> fault = platform::ReadFault::Error;  // should the platform's call fail
        Step([&] {
            fault = platform_.files.ReadChunks(*path, [&](std::string_view chunk) {
                finder.Feed(chunk);
                return true;
            });
        });
        record_.hostsFault = fault == platform::ReadFault::Missing ? std::nullopt : fault;
        record_.hostsLines = record_.hostsFault ? hosts::Matches{} : finder.End();
    }

    const CheckPlatform& platform_;
    const CheckOptions& options_;
    CheckListener& listener_;
    CheckRecord record_;
    HostName name_;
    std::string script_;  // the auto-config file's, when one was fetched
    std::map<std::string, std::optional<platform::ProxyEntry>> roads_;  // of the check's own requests, by URL
    std::mutex roadsMutex_;
    Clock::time_point roadDeadline_;  // of the stage whose requests ask RoadFor
};

}  // namespace

CheckRecord RunCheck(const std::string& domain, const CheckPlatform& platform, const CheckOptions& options,
                     CheckListener& listener) {
    return Check(platform, options, listener).Run(domain);
}

}  // namespace tarnwell
