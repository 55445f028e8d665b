#pragma once
#include "platform/Shell.h"

namespace tarnwell::platform {

// Creates automation objects by programmatic identifier through COM, which
// it starts on the calling (user-interface) thread for its lifetime, and on
// any other thread that creates one for that thread's.
class WinShellFactory : public ShellFactory {
public:
    WinShellFactory();
    ~WinShellFactory() override;
    WinShellFactory(const WinShellFactory&) = delete;
    WinShellFactory& operator=(const WinShellFactory&) = delete;
    std::unique_ptr<Shell> CreateObject(const std::string& progId) override;

private:
    bool started_ = false;
};

}  // namespace tarnwell::platform
