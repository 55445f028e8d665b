#pragma once
#include "platform/Shell.h"

namespace tarnwell::platform {

// Creates automation objects by programmatic identifier through COM, which
// it starts on each thread that creates one, for that thread's life: an
// object is used and released on the thread that created it.
class WinShellFactory : public ShellFactory {
public:
    std::unique_ptr<Shell> CreateObject(const std::string& progId) override;
};

}  // namespace tarnwell::platform
