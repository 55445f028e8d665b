#include "platform/posix/PosixShell.h"

#include "common/Failure.h"

#include <algorithm>
#include <cctype>
#include <netdb.h>
#include <string_view>

namespace tarnwell::platform {

namespace {

// Registry paths and programmatic identifiers ignore ASCII case.
bool SameIgnoringCase(std::string_view a, std::string_view b) {
    return a.size() == b.size() &&
           std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) {
               return std::tolower(static_cast<unsigned char>(x)) ==
                      std::tolower(static_cast<unsigned char>(y));
           });
}

}  // namespace

std::string PosixShell::RegRead(const std::string& valuePath) {
    if (!SameIgnoringCase(valuePath, kDataBasePath)) throw Failure("no such registry value");
    const std::string_view hosts = _PATH_HOSTS;  // "/etc/hosts"
    return std::string(hosts.substr(0, hosts.rfind('/') + 1));
}

std::unique_ptr<Shell> PosixShellFactory::CreateObject(const std::string& progId) {
    if (!SameIgnoringCase(progId, kShellProgId)) throw Failure("no such object");
    return std::make_unique<PosixShell>();
}

}  // namespace tarnwell::platform
