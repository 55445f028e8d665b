#pragma once
#include "platform/win32/WinFiles.h"
#include "platform/win32/WinHttp.h"
#include "platform/win32/WinNetworkParams.h"
#include "platform/win32/WinProxy.h"
#include "platform/win32/WinShell.h"
#include "platform/win32/WinSockets.h"
#include "platform/win32/WinTls.h"

namespace tarnwell::platform {

// The services of this platform that the window and the console use.
struct NativeServices {
    WinSockets sockets;  // first: Windows Sockets is started before any other service is made
    WinNetworkParams networkParams;
    WinShellFactory shells;
    WinFiles files;
    WinHttp http;
    WinTls tls{http};
    WinProxySettings proxy;
};

}  // namespace tarnwell::platform
