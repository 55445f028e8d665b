#pragma once
#include <memory>
#include <string>

namespace tarnwell::platform {

// The registry value that names the directory of the hosts file.
inline constexpr char kDataBasePath[] =
    "HKEY_LOCAL_MACHINE\\SYSTEM\\CurrentControlSet\\Services\\Tcpip\\Parameters\\DataBasePath";

// The programmatic identifier of the shell automation object.
inline constexpr char kShellProgId[] = "Wscript.Shell";

// The shell automation object that reads registry values by their full path.
class Shell {
public:
    virtual ~Shell() = default;
    // The value's data as UTF-8 text; throws Failure when it cannot be had.
    virtual std::string RegRead(const std::string& valuePath) = 0;
};

class ShellFactory {
public:
    virtual ~ShellFactory() = default;
    // Creates a new object by its programmatic identifier; throws Failure.
    virtual std::unique_ptr<Shell> CreateObject(const std::string& progId) = 0;
};

}  // namespace tarnwell::platform
