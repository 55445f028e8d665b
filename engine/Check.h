#pragma once
#include "engine/CheckRecord.h"
#include "engine/Settings.h"
#include "platform/Http.h"
#include "platform/Proxy.h"
#include "platform/Files.h"
#include "platform/NetworkParams.h"
#include "platform/Serve.h"
#include "platform/Shell.h"
#include "platform/Sockets.h"
#include "platform/Tls.h"
#include "resolve/DirectQuery.h"

#include <chrono>
#include <memory>
#include <optional>
#include <string>
#include <variant>

// The check engine: one check of one domain, from the text to the verdict.
// It reports what happens as events and a record; it writes no text and
// knows no window.
namespace tarnwell {

inline constexpr std::chrono::milliseconds kProofWait{3000};

// What the engine uses of the platform.
struct CheckPlatform {
    platform::Sockets& sockets;
    platform::NetworkParams& networkParams;
    platform::ShellFactory& shells;
    platform::Files& files;
    platform::Tls& tls;
    platform::Http& http;
    // Called between slices of every wait, when set: a window served while
    // its check waits. It may throw (the window closed) to end the check.
    platform::Serve serve = {};
    // Where the shell object of the latest mismatch is kept, when the caller
    // keeps it from one check to the next; one that cannot be created leaves
    // the one kept in place.
    std::unique_ptr<platform::Shell>* mismatchShell = nullptr;
    // The browser's proxy settings; none: the stage is left out.
    platform::ProxySettingsReader* proxy = nullptr;
};

struct CheckOptions {
    std::chrono::milliseconds replyWait = kReplyWait;  // for the DNS server's replies, in all
    bool prove = true;                                 // ask the addresses to prove the name over HTTPS
    std::chrono::milliseconds proofWait = kProofWait;  // for the proofs, in all
    std::optional<Address> server;                     // this DNS server instead of the configured ones
    // Asked when the site cannot prove itself; none (the default): never.
    // The views name those of the settings (LoadSettings).
    std::vector<Witness> witnesses;
    std::chrono::milliseconds witnessWait = kWitnessWait;  // for the witnesses, in all
    // Fetch and run the auto-config file the proxy settings name; off: the
    // settings are only read, and the record says the proxy was not checked.
    bool proxy = true;
};

// The events of a check, in the order they come. What each one tells is in
// the record handed along with it.
namespace event {
struct Rejected {};        // the domain text is no web domain's host name: the check ends
struct Begun {};           // the name was accepted; the computer's resolver is asked
struct Resolved {};        // systemAddresses holds the resolver's answer; none ends the check
struct ProxyFound {};      // proxy is set: the browser's proxy settings set a proxy or an auto-config file
struct QueryBegun {};      // the direct query's stage begins
struct ServiceMissing {};  // the network parameters service is missing
struct NoServer {};        // no DNS server is configured: the check ends
struct ServerChosen {};    // server is set
struct ServerAddress {     // an address of the server's replies, the first time it is read
    Address address;
};
struct ProofBegun {};      // the proof stage begins
struct Proved {            // one address's proof, in the resolver's order
    std::size_t index;     // into proofs
};
struct Witnessed {};        // witness is set: the witnesses were asked
struct Concluded {};       // end and judgement are set
struct RegistryRead {      // on a mismatch: the hosts directory the registry names, as read
    std::string directory;
};
struct HostsRead {};       // hostsFile, hostsFault and hostsLines are set
}  // namespace event

using CheckEvent = std::variant<event::Rejected, event::Begun, event::Resolved, event::ProxyFound, event::QueryBegun,
                                event::ServiceMissing, event::NoServer, event::ServerChosen, event::ServerAddress,
                                event::ProofBegun, event::Proved, event::Witnessed, event::Concluded, event::RegistryRead,
                                event::HostsRead>;

// Hears the events of a check as they come, on the checking thread.
class CheckListener {
public:
    virtual ~CheckListener() = default;
    virtual void On(const CheckEvent& event, const CheckRecord& record) = 0;
};

// Runs one check of `domain`. A platform call that fails ends only its own
// step; the record says what came of it.
CheckRecord RunCheck(const std::string& domain, const CheckPlatform& platform, const CheckOptions& options,
                     CheckListener& listener);

}  // namespace tarnwell
