#pragma once
#include "platform/Files.h"
#include "platform/MsgBox.h"
#include "platform/NetworkParams.h"
#include "platform/Shell.h"
#include "platform/Sockets.h"
#include "platform/Widgets.h"
#include "resolve/CheckState.h"
#include "resolve/DNS_HostByName.h"
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
};

// How the last check ended: the one record of its outcome.
enum class CheckEnd {
    None,            // no check has run
    Rejected,        // domain text too short, or a name the DNS cannot carry
    ResolverFailed,  // the computer's resolver gave no address
    NoServer,        // no DNS server configured
    Match,           // an address of the server equals the resolver's
    Mismatch,        // the server's usable reply has no address that does
    Inconclusive,    // no usable, complete reply from the server: nothing to compare
    TimedOut         // the console run's deadline passed before the check ended
};

// What the last check found, as values: the record behind its report.
struct CheckRecord {
    std::string domain;                      // the domain text D
    std::optional<std::string> queryName;    // the name asked for, ACE, no trailing dot
    CheckEnd end = CheckEnd::None;
    std::vector<std::string> systemAddresses;  // the computer's resolver, first = HostIP
    std::optional<std::string> server;       // the DNS server's address text
    bool sent = false;                       // a query went to the server
    std::vector<std::string> serverAddresses;  // of every reply read, each once
    std::optional<int> rcode;                // of the last usable reply
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

private:
    void Check();
    void Reject();
    void DirectQueryStage(const std::string& domain, const HostName& name);
    void WriteMatch(const std::string& domain);
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
