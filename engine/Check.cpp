#include "engine/Check.h"

#include "common/Failure.h"
#include "common/Step.h"
#include "common/Text.h"
#include "resolve/HostName.h"
#include "resolve/Verdict.h"

#include <algorithm>

namespace tarnwell {

std::optional<Address> CheckRecord::SystemAddress() const {
    const auto v4 = std::find_if(systemAddresses.begin(), systemAddresses.end(), [](const Address& a) { return a.IsV4(); });
    if (v4 != systemAddresses.end()) return *v4;
    if (systemAddresses.empty()) return std::nullopt;
    return systemAddresses.front();
}

const AddressProof* CheckRecord::FirstProof(platform::ProofResult result) const {
    const auto found = std::find_if(proofs.begin(), proofs.end(), [&](const AddressProof& p) { return p.proof.result == result; });
    return found == proofs.end() ? nullptr : &*found;
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
        AskWitnesses();
        Conclude(answer);
    }

    // The computer's own resolver; a window is served while it runs.
    std::vector<Address> Resolve(const std::string& name) {
        const auto lookup = [&sockets = platform_.sockets, name] {
            return sockets.GetAddrInfo(name).value_or(std::vector<Address>{});
        };
        return platform_.serve ? platform::RunServed(platform_.serve, lookup) : lookup();
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

    // The computer's addresses asked to prove the name over HTTPS, all at
    // once; each proof is told in the resolver's order, as soon as it and
    // every one before it have ended.
    void Prove() {
        if (!options_.prove) return;
        const auto targets = ProbeTargets(record_.systemAddresses, record_.serverAddresses);
        if (targets.empty()) return;
        Tell(event::ProofBegun{});
        std::vector<std::optional<platform::Proof>> ended(targets.size());
        std::size_t told = 0;
        const auto tellReady = [&] {
            for (; told < targets.size() && ended[told]; ++told) {
                record_.proofs.push_back({targets[told], *ended[told]});
                Tell(event::Proved{told});
            }
        };
        platform::ProbeAll(platform_.tls, targets, name_.ace, Clock::now() + options_.proofWait, platform_.serve,
                           [&](std::size_t i, const platform::Proof& proof) {
                               ended[i] = proof;
                               tellReady();
                           });  // every address is heard of, a timed-out one included
    }

    // The witnesses, asked only when the site could not prove itself: a
    // proof came from no address and none failed, and no hosts line maps
    // the name (the line decides, and the name goes nowhere new).
    void AskWitnesses() {
        if (options_.witnesses.empty() || record_.proofs.empty()) return;
        const auto spoke = [](const AddressProof& p) { return p.proof.result != platform::ProofResult::Unknown; };
        if (std::any_of(record_.proofs.begin(), record_.proofs.end(), spoke)) return;
        FindHostsLines(RegistryDirectory(false));
        if (record_.HostsMayMap()) return;
        WitnessRecord witness;
        for (const auto& w : options_.witnesses) witness.asked.push_back(w.url);
        const bool aaaa = std::any_of(record_.systemAddresses.begin(), record_.systemAddresses.end(),
                                      [](const Address& a) { return !a.IsV4(); });
        WitnessAnswer answer;  // silent, should the asking itself fail
        Step([&] {
            answer = tarnwell::AskWitnesses(platform_.http, witness.asked, name_.qname, aaaa, options_.witnessWait,
                                            platform_.serve);
        });
        // Named: those that answered, or all those asked when none did.
        std::vector<std::size_t> named = answer.answered;
        if (named.empty())
            for (std::size_t i = 0; i < options_.witnesses.size(); ++i) named.push_back(i);
        for (const auto i : answer.answered) witness.answered.push_back(options_.witnesses[i].url);
        for (const auto i : named) witness.named += (witness.named.empty() ? "" : ", ") + options_.witnesses[i].host;
        witness.result = answer.result;
        witness.addresses = answer.addresses;
        record_.witness = std::move(witness);
        answer_ = std::move(answer);
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

    void Conclude(const DirectAnswer& answer) {
        Evidence evidence{record_.systemAddresses, record_.serverAddresses, answer.a.Whole(), answer.aaaa.Whole(),
                          record_.proofs};
        evidence.witness = answer_;
        // The hosts file is looked up silently where the verdict needs it:
        // whether a line maps the name, for an address missing from the
        // server's; whether a server on this computer may echo a line.
        const bool local = OnThisComputer(*record_.server);
        if (local || !Missing(record_.systemAddresses, record_.serverAddresses).empty()) {
            if (!record_.hostsFile) FindHostsLines(RegistryDirectory(false));  // not yet, for the witnesses
            evidence.hostsLineMaps = record_.HostsMayMap();
            evidence.echo = local && EchoesHostsFile();
        }
        const Verdict verdict = Decide(evidence);
        record_.end = verdict == Verdict::Match        ? CheckEnd::Match
                      : verdict == Verdict::Proven     ? CheckEnd::Proven
                      : verdict == Verdict::Impostor   ? CheckEnd::Impostor
                      : verdict == Verdict::Mismatch   ? CheckEnd::Mismatch
                      : verdict == Verdict::Disputed   ? CheckEnd::Disputed
                      : verdict == Verdict::Unverified ? CheckEnd::Unverified
                                                       : CheckEnd::Inconclusive;
        if (verdict == Verdict::Disputed) record_.disputed = DisputedAddress(evidence);
        record_.localEcho = verdict == Verdict::LocalEcho;
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
    std::optional<WitnessAnswer> answer_;  // of the witnesses, when they were asked
};

}  // namespace

CheckRecord RunCheck(const std::string& domain, const CheckPlatform& platform, const CheckOptions& options,
                     CheckListener& listener) {
    return Check(platform, options, listener).Run(domain);
}

}  // namespace tarnwell
