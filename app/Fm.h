#pragma once
#include "platform/Files.h"
#include "platform/MsgBox.h"
#include "platform/NetworkParams.h"
#include "platform/Shell.h"
#include "platform/Sockets.h"
#include "platform/Tls.h"
#include "platform/Widgets.h"
#include "resolve/CheckState.h"
#include "resolve/DNS_HostByName.h"
#include "resolve/DNS_IP_READER.h"
#include "resolve/HostsFile.h"

#include <chrono>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace tarnwell {

// What the main window's logic uses of the platform.
struct FmPlatform {
    platform::Sockets& sockets;
    platform::NetworkParams& networkParams;
    platform::ShellFactory& shells;
    platform::MsgBox& messageBox;
    platform::Files& files;
    platform::Tls& tls;
};

// How the last check ended: the one record of its outcome.
enum class CheckEnd {
    None,            // no check has run
    Rejected,        // domain text too short, or a name the DNS cannot carry
    ResolverFailed,  // the computer's resolver gave no address
    NoServer,        // no DNS server configured
    Match,           // every address of the resolver's is among the server's
    Mismatch,        // one is missing from the server's whole replies, and not proven
    Inconclusive,    // nothing to compare, or a local server that echoes the hosts file
    Impostor,        // an address of the resolver's failed to prove the name over HTTPS
    Proven,          // the addresses differ, but every missing one proved the name
    TimedOut         // the console run's deadline passed before the check ended
};

// One address's proof of the name, as the record keeps it.
struct ProofRecord {
    std::string address;
    platform::Proof proof;
};

// What the last check found, as values: the record behind its report.
struct CheckRecord {
    std::string domain;                      // the domain text D
    std::optional<std::string> queryName;    // the name asked for, ACE, no trailing dot
    CheckEnd end = CheckEnd::None;
    std::vector<std::string> systemAddresses;  // the computer's resolver, both families, its order
    std::optional<std::string> server;       // the DNS server's address text
    bool sent = false;                       // a query went to the server
    std::vector<std::string> serverAddresses;  // of every reply read, each once
    std::optional<int> rcode;                // of the last usable reply
    std::vector<ProofRecord> proofs;         // of the proof stage, in the resolver's order
    std::optional<std::string> systemAddress;  // HostIP, as the report shows it
    bool localEcho = false;  // a match from a server on this computer that serves the hosts file
    std::optional<std::string> hostsFile;    // the hosts file's path, when its lines were looked up
    bool hostsReadable = false;
    hosts::Matches hostsLines;
    std::chrono::milliseconds elapsed{0};
};

// The main window's logic: its event handlers and the check procedure that
// the check button runs. The toolkit's window (FmView) owns the controls.
class Fm : public platform::FormEvents {
public:
    Fm(platform::FmView& view, FmPlatform platform, CheckState& state);

    void Form_Load() override;
    void Form_Resize() override;
    void Form_Unload(std::int16_t& cancel) override;
    void Cmd1_Click() override;

    // The shell object of the latest mismatch verdict, or nullptr.
    platform::Shell* WshShell() const { return WshShell_.get(); }
    CheckEnd LastCheckEnd() const { return record_.end; }
    const CheckRecord& LastCheck() const { return record_; }

    // The whole wait for the DNS server's replies.
    std::chrono::milliseconds replyWait;
    // Whether the check asks the site's addresses to prove the name over
    // HTTPS, and the whole wait for their proofs.
    bool proveAddresses = true;
    std::chrono::milliseconds proofWait;

private:
    void Check();
    void Reject();
    void DirectQueryStage(const std::string& domain, const HostName& name);
    std::vector<AddressProof> ProofStage(const std::string& domain, const HostName& name);
    void WriteMatch(const std::string& domain);
    void WriteImpostor(const std::string& domain, const std::vector<AddressProof>& proofs);
    void WriteProven(const std::string& domain, const std::vector<AddressProof>& proofs);
    bool OnThisComputer(const Address& server);
    std::string WriteMismatch();
    void WriteInconclusive();
    bool EchoesHostsFile(const HostName& name);
    void WriteLocalEcho(const std::string& domain);
    std::string ReadRegistryDirectory(bool keepShell);
    void FindHostsLines(const std::string& directory, const HostName& name);
    void WriteHostsLines(const std::string& domain);

    platform::FmView& view_;
    FmPlatform platform_;
    CheckState& state_;
    std::unique_ptr<platform::Shell> WshShell_;
    CheckRecord record_;
};

}  // namespace tarnwell
