#include "app/CheckOutput.h"

#include "common/Text.h"
#include "resolve/ProxyRules.h"

#include <nlohmann/json.hpp>

#include <algorithm>

namespace tarnwell::output {

namespace {

using Json = nlohmann::ordered_json;  // the fields in the documented order

template <typename T>
Json OrNull(const std::optional<T>& value) {
    return value ? Json(*value) : Json(nullptr);
}

// Printable ASCII but '|', which would start the performance data; any other
// byte becomes '?': each domain stays on its one line of plugin output.
std::string Printable(std::string_view text) { return text::Clean(text, {.asciiOnly = true, .forbidden = "|"}); }

// The domain in plugin output: as given when that is printable, else the
// name asked for (the ACE form of an IDN), else made printable.
std::string ShownDomain(const CheckRecord& r) {
    if (Printable(r.domain) == r.domain || !r.queryName) return Printable(r.domain);
    return *r.queryName;
}

std::vector<std::string> Texts(const std::vector<Address>& addresses) {
    std::vector<std::string> texts;
    for (const auto& a : addresses) texts.push_back(a.Text());
    return texts;
}

std::string Joined(const std::vector<Address>& items) {
    std::string all;
    for (const auto& item : items) all += (all.empty() ? "" : ", ") + item.Text();
    return all;
}

// The server's addresses of the family of `address`.
std::vector<Address> SameFamily(const std::vector<Address>& all, const Address& address) {
    std::vector<Address> out;
    for (const auto& a : all)
        if (a.family() == address.family()) out.push_back(a);
    return out;
}

std::optional<std::string> TextOf(const std::optional<Address>& a) {
    if (!a) return std::nullopt;
    return a->Text();
}

std::string Seconds(std::chrono::milliseconds elapsed) {
    const auto ms = std::max<long long>(0, elapsed.count());
    std::string fraction = std::to_string(1000 + ms % 1000).substr(1);
    return std::to_string(ms / 1000) + "." + fraction;
}

// Why the hosts file could not be read: "denied", "directory", "error".
std::string_view ReadFaultName(platform::ReadFault fault) {
    constexpr std::string_view kNames[] = {"missing", "denied", "directory", "too_large", "error"};
    static_assert(std::size(kNames) == static_cast<std::size_t>(platform::ReadFault::Error) + 1);
    return kNames[static_cast<int>(fault)];
}

}  // namespace

std::string_view OutcomeName(CheckEnd end) {
    switch (end) {
        case CheckEnd::Match: return "match";
        case CheckEnd::Mismatch: return "mismatch";
        case CheckEnd::Inconclusive: return "inconclusive";
        case CheckEnd::Impostor: return "impostor";
        case CheckEnd::Disputed: return "disputed";
        case CheckEnd::Unverified:
        case CheckEnd::Unconfirmed: return "inconclusive";
        case CheckEnd::Blocked: return "blocked";
        case CheckEnd::Filtered: return "filtered";
        case CheckEnd::Unproven: return "unproven";
        case CheckEnd::Proven: return "proven";
        case CheckEnd::ResolverFailed: return "unresolved";
        case CheckEnd::NoServer: return "no_server";
        case CheckEnd::TimedOut: return "timeout";
        case CheckEnd::Rejected:
        case CheckEnd::None: break;
    }
    return "rejected";
}

ConsoleStatus StatusOf(CheckEnd end) {
    switch (end) {
        case CheckEnd::Match:
        case CheckEnd::Proven: return kStatusMatch;
        case CheckEnd::Mismatch:
        case CheckEnd::Disputed:
        case CheckEnd::Blocked:
        case CheckEnd::Impostor: return kStatusMismatch;
        case CheckEnd::Unproven:
        case CheckEnd::Filtered:
        case CheckEnd::Unconfirmed:
        case CheckEnd::Unverified:
        case CheckEnd::Inconclusive:
        case CheckEnd::TimedOut: return kStatusInconclusive;
        default: return kStatusNoVerdict;
    }
}

int MostSevere(std::span<const int> statuses, std::span<const int> order) {
    for (int status : order)
        if (std::find(statuses.begin(), statuses.end(), status) != statuses.end()) return status;
    return order.back();
}

std::string_view ProofResultName(platform::ProofResult result) {
    switch (result) {
        case platform::ProofResult::Proven: return "proven";
        case platform::ProofResult::Failed: return "failed";
        case platform::ProofResult::Unknown: break;
    }
    return "unknown";
}

namespace {

// An auto-config file's fault as JSON and the plugin lines name it.
std::string_view PacErrorName(PacError error) {
    constexpr std::string_view kNames[] = {"", "unreachable", "timeout", "memory", "script", "answer"};
    static_assert(std::size(kNames) == static_cast<std::size_t>(PacError::Answer) + 1);
    return kNames[static_cast<int>(error)];
}

}  // namespace

std::optional<std::string_view> ProofReasonName(platform::ProofReason reason) {
    constexpr std::string_view kNames[] = {"",        "name",    "untrusted", "expired",    "error",   "refused",
                                           "timeout", "not-tls", "aborted",   "incomplete", "internal", "resources",
                                           "proxy-auth"};
    static_assert(std::size(kNames) == static_cast<std::size_t>(platform::ProofReason::ProxyAuth) + 1);
    if (reason == platform::ProofReason::None) return std::nullopt;
    return kNames[static_cast<int>(reason)];
}

std::string JsonLine(const CheckRecord& r, std::optional<std::size_t> line) {
    Json lines = Json::array();
    for (const auto& line : r.hostsLines.lines) lines.push_back({{"line", line.number}, {"text", line.text}});
    constexpr std::string_view kStates[] = {"impostor",   "blocked",     "disputed",   "missing",
                                            "unproven",   "filtered",    "unverified", "unconfirmed",
                                            "unanswered", "proven",      "vouched",    "unused"};
    static_assert(std::size(kStates) == static_cast<std::size_t>(AddressState::Unused) + 1);
    constexpr std::string_view kBy[] = {"proof", "server", "witness", "hosts", "none"};
    static_assert(std::size(kBy) == static_cast<std::size_t>(DecidedBy::Nothing) + 1);
    Json states = Json::array();
    for (const auto& v : r.judgement.addresses)
        states.push_back({{"address", v.address.Text()},
                          {"state", kStates[static_cast<int>(v.state)]},
                          {"by", kBy[static_cast<int>(v.by)]}});
    Json proofs = Json::array();
    // A proxy whose name did not resolve was never asked: it has no address.
    const auto unresolved = [](const AddressProof& p) {
        return p.via.scheme != platform::ProxyScheme::Direct && p.address.IsUnspecified();
    };
    for (const auto& p : r.proofs)
        proofs.push_back({{"address", unresolved(p) ? Json(nullptr) : Json(p.address.Text())},
                          {"result", ProofResultName(p.proof.result)},
                          {"reason", OrNull(ProofReasonName(p.proof.reason))},
                          {"via", p.via.scheme == platform::ProxyScheme::Direct ? Json(nullptr)
                                                                                  : Json(proxy::EntryText(p.via))}});
    Json object = {
        {"domain", r.domain},
        {"query_name", OrNull(r.queryName)},
        {"outcome", OutcomeName(r.end)},
        {"system_address", OrNull(TextOf(r.SystemAddress()))},
        {"server", OrNull(TextOf(r.server))},
        {"server_addresses", Texts(r.serverAddresses)},
        {"rcode", OrNull(r.rcode)},
        {"hosts_file", OrNull(r.hostsFile)},
        {"hosts_lines", lines},
        {"hosts_error", r.hostsFault ? Json(ReadFaultName(*r.hostsFault)) : Json(nullptr)},
        {"elapsed_ms", r.elapsed.count()},
        {"system_addresses", Texts(r.systemAddresses)},
        {"proof", proofs},
        {"witness", nullptr},
        {"addresses", states},
        {"outcome_address", OrNull(TextOf(r.Decisive()))},
    };
    if (r.witness) {
        constexpr std::string_view kResults[] = {"answered", "nxdomain", "untrusted", "error", "silent"};
        static_assert(std::size(kResults) == static_cast<std::size_t>(WitnessResult::Silent) + 1);
        object["witness"] = {{"asked", r.witness->asked},
                             {"answered", r.witness->answered},
                             {"result", kResults[static_cast<int>(r.witness->result)]},
                             {"addresses", Texts(r.witness->addresses)}};
    }
    object["proxy"] = nullptr;
    if (r.proxy) {
        const auto& p = *r.proxy;
        constexpr std::string_view kSources[] = {"environment", "auto_config", "system", "wpad"};
        static_assert(std::size(kSources) == static_cast<std::size_t>(ProxySource::Wpad) + 1);
        const auto texts = [](const std::vector<platform::ProxyEntry>& entries) {
            Json list = Json::array();
            for (const auto& e : entries) list.push_back(proxy::EntryText(e));
            return list;
        };
        object["proxy"] = {{"source", kSources[static_cast<int>(p.source)]},
                           {"pac_url", p.pacUrl.empty() ? Json(nullptr) : Json(p.pacUrl)},
                           {"entries", texts(p.entries)},
                           {"http_entries", texts(p.httpEntries)},
                           {"others_direct", p.othersDirect},
                           {"checked", p.checked},
                           {"error", p.error == PacError::None ? Json(nullptr) : Json(PacErrorName(p.error))}};
    }
    if (line) object["line"] = *line;
    return object.dump(-1, ' ', false, Json::error_handler_t::replace);
}

PluginState PluginStateOf(CheckEnd end) {
    switch (end) {
        case CheckEnd::Match:
        case CheckEnd::Proven: return kPluginOk;
        case CheckEnd::Mismatch:
        case CheckEnd::Disputed:
        case CheckEnd::Blocked:
        case CheckEnd::Impostor: return kPluginCritical;
        case CheckEnd::Unproven:
        case CheckEnd::Filtered:
        case CheckEnd::ResolverFailed:
        case CheckEnd::NoServer: return kPluginWarning;
        default: return kPluginUnknown;
    }
}

std::string_view PluginStateName(PluginState state) {
    constexpr std::string_view kNames[] = {"OK", "WARNING", "CRITICAL", "UNKNOWN"};
    return kNames[state];
}

// Why the road through the browser's proxy leaves the site unverified.
std::string Undecided(const CheckRecord& r) {
    const auto* via = r.DecisiveProxy();
    switch (r.judgement.doubt) {
        case ProxyDoubt::Silent:
            if (via && via->proof.reason == platform::ProofReason::ProxyAuth)
                return "the browser's proxy " + Printable(proxy::HostPort(via->via)) + " asks for a password";
            return "the browser's proxy " + Printable(via ? proxy::HostPort(via->via) : "") + " did not answer";
        case ProxyDoubt::NoProof:
            return "the browser's proxy " + Printable(proxy::HostPort(r.proxy->entries.front())) +
                   " was not asked (--no-proof)";
        case ProxyDoubt::Unknown:
            return "the proxy auto-config file " + Printable(r.proxy->pacUrl) + " could not be used (" +
                   std::string(PacErrorName(r.proxy->error)) + ")";
        case ProxyDoubt::Differs: return "the browser takes another road for http:// than for https://";
        default: break;
    }
    return "the browser's proxy was not checked (proxy = off)";
}

std::string PluginLine(const CheckRecord& r) {
    const std::string domain = ShownDomain(r) + ": ";
    const std::string address = TextOf(r.SystemAddress()).value_or("");
    const std::string server = Printable(TextOf(r.server).value_or("?"));
    const std::string decisive = TextOf(r.Decisive()).value_or(address);
    const std::string witnesses = Printable(r.DecisiveWitnesses());
    const AddressProof* proof = r.Decisive() ? r.ProofOf(*r.Decisive()) : nullptr;
    const std::string reason(proof ? ProofReasonName(proof->proof.reason).value_or("") : "");
    switch (r.end) {
        case CheckEnd::Match:
            if (r.witness && !r.rcode)
                return domain + address + " among the independent DNS server's " + Joined(r.witness->addresses) +
                       "; no usable reply from the DNS server " + server;
            return domain + address + " among the DNS server's " + Joined(r.serverAddresses);
        case CheckEnd::Disputed:
            return domain + decisive + " not confirmed by the independent DNS server " + witnesses +
                   " and not proven over HTTPS";
        case CheckEnd::Unconfirmed:
            return domain + decisive + " not proven over HTTPS and not known to " + witnesses;
        case CheckEnd::Unverified:
            if (r.judgement.doubt != ProxyDoubt::None) return domain + Undecided(r);
            if (r.witness && !r.witness->answered.empty())
                return domain + decisive + " not proven over HTTPS, and no independent DNS server gave a whole " +
                       (r.Decisive() && r.Decisive()->IsV4() ? "IPv4" : "IPv6") + " answer";
            return domain + "not proven over HTTPS, and no independent DNS server answered (" +
                   Printable(r.witness ? r.witness->named : "") + ")";
        case CheckEnd::Unproven:
            return domain + decisive + " confirmed by " + witnesses + " but not proven over HTTPS (" + reason + ")";
        case CheckEnd::Blocked:
            return domain + "the DNS answers " + decisive + " (this computer)";
        case CheckEnd::Filtered:
            return domain + "blocked by the DNS server (" + decisive + ")";
        case CheckEnd::Proven: {
            const std::string line = domain + decisive + " proved the name over HTTPS";
            if (!r.rcode) return line + "; no usable reply from the DNS server " + server;
            return line + ", though not among the DNS server's " + Joined(r.serverAddresses);
        }
        case CheckEnd::Impostor:
            if (const auto* via = r.DecisiveProxy())
                return domain + "certificate not proven through proxy " + Printable(proxy::HostPort(via->via)) + " (" +
                       std::string(ProofReasonName(via->proof.reason).value_or("")) + ")";
            return domain + decisive + " failed to prove the name over HTTPS (" + reason + " certificate)";
        case CheckEnd::Mismatch: {
            // The family that disagrees: that of the address that decided.
            const Address missing = r.Decisive().value_or(Address{});
            const bool byWitness = r.judgement.Decisive() && r.judgement.Decisive()->by == DecidedBy::Witness;
            const auto family = SameFamily(byWitness ? r.witness->addresses : r.serverAddresses, missing);
            // IPv6 is named; an IPv4 line reads as it always has.
            const std::string v6 = missing.IsV4() ? "" : "IPv6 ";
            std::string line = domain + v6 + missing.Text();
            if (byWitness)
                line += " not among the independent DNS server's " + Joined(family);
            else if (family.empty())
                line += " but the DNS server " + server + " has no " + v6 +
                        "address for it" + (r.rcode ? " (rcode " + std::to_string(*r.rcode) + ")" : "");
            else
                line += " not among the DNS server's " + Joined(family);
            if (!r.hostsLines.lines.empty())
                line += "; hosts file " + Printable(r.hostsFile.value_or("")) + " line " +
                        std::to_string(r.hostsLines.lines.front().number) + ": " +
                        Printable(r.hostsLines.lines.front().text);
            else if (r.hostsFault)
                line += "; hosts file " + Printable(r.hostsFile.value_or("")) + " cannot be read (" +
                        std::string(ReadFaultName(*r.hostsFault)) + ")";
            return line;
        }
        case CheckEnd::Inconclusive:
            if (r.judgement.verdict == Verdict::LocalEcho)
                return domain + address + " from the DNS server " + server +
                       " on this computer, which may serve the same hosts file: check with --server ADDRESS";
            return domain + "no usable reply from the DNS server " + server;
        case CheckEnd::ResolverFailed:
            return domain + "no address from the system resolver";
        case CheckEnd::NoServer:
            return domain + "no DNS server configured";
        case CheckEnd::TimedOut:
            return domain + "no verdict before the deadline";
        default:
            return domain + "not a domain name DNS can carry";
    }
}

std::vector<std::string> PluginOutput(const std::vector<CheckRecord>& records, std::chrono::milliseconds elapsed) {
    std::vector<int> states;
    for (const auto& r : records) states.push_back(PluginStateOf(r.end));
    const auto worst = static_cast<PluginState>(MostSevere(states, kPluginSeverity));

    // One domain: its line. Several: how many match, and the first of the
    // most severe state when that is not OK.
    std::string summary;
    if (records.size() == 1) {
        summary = PluginLine(records.front());
    } else {
        summary = std::to_string(std::count(states.begin(), states.end(), kPluginOk)) + " of " +
                  std::to_string(records.size()) + " domains match";
        const auto first = std::find(states.begin(), states.end(), worst) - states.begin();
        if (worst != kPluginOk) summary += "; " + PluginLine(records[first]);
    }
    std::vector<std::string> lines{"TARNWELL " + std::string(PluginStateName(worst)) + " - " + summary +
                                   "|time=" + Seconds(elapsed) + "s;;;0"};
    for (std::size_t i = 0; i < records.size(); ++i) {
        // Appended piece by piece: GCC 12 takes "[" + std::string for an overlapping copy (-Wrestrict).
        std::string line(1, '[');
        line += PluginStateName(static_cast<PluginState>(states[i]));
        line += "] ";
        line += PluginLine(records[i]);
        lines.push_back(std::move(line));
    }
    return lines;
}

std::string PluginUsageError(std::string_view message) {
    return "TARNWELL UNKNOWN - " + Printable(message);
}

}  // namespace tarnwell::output
