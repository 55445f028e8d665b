#pragma once
#include "platform/Shell.h"

namespace tarnwell::platform {

// The shell object on a system without a registry. It knows one value: the
// TCP/IP parameters' DataBasePath, which names the directory of the hosts
// file. Here that is the directory of the file the C library's resolver
// reads (/etc/), written with its final slash so that it names a directory.
class PosixShell : public Shell {
public:
    std::string RegRead(const std::string& valuePath) override;
};

class PosixShellFactory : public ShellFactory {
public:
    std::unique_ptr<Shell> CreateObject(const std::string& progId) override;
};

}  // namespace tarnwell::platform
