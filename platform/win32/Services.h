#pragma once
#include "platform/win32/WinFiles.h"
#include "platform/win32/WinHttp.h"
#include "platform/win32/WinNetworkParams.h"
#include "platform/win32/WinShell.h"
#include "platform/win32/WinSockets.h"
#include "platform/win32/WinTls.h"

namespace tarnwell::platform {

// The services of this platform that the window's logic uses.
struct NativeServices {
    WinSockets sockets;
    WinNetworkParams networkParams;
    WinShellFactory shells;  // COM on the thread that makes these, the window's
    WinFiles files;
    WinHttp http;
    WinTls tls{http};
};

}  // namespace tarnwell::platform
