#pragma once
#include "platform/posix/CurlHttp.h"
#include "platform/posix/LinuxProxy.h"
#include "platform/posix/OpenSslTls.h"
#include "platform/posix/PosixFiles.h"
#include "platform/posix/PosixShell.h"
#include "platform/posix/PosixSockets.h"
#include "platform/posix/ResolvConf.h"

namespace tarnwell::platform {

// The services of this platform that the window's logic uses.
struct NativeServices {
    PosixSockets sockets;
    ResolvConfNetworkParams networkParams;
    PosixShellFactory shells;
    PosixFiles files;
    CurlHttp http;
    OpenSslTls tls;
    LinuxProxySettings proxy;
};

}  // namespace tarnwell::platform
