#pragma once
#include "platform/Http.h"

namespace tarnwell::platform {

// HTTP through WinHTTP: straight to the URL's host or through the HTTP
// proxy a request names, whatever proxy the system names (WinHTTP has no
// SOCKS and no TLS to a proxy: a request through a SOCKS or HTTPS proxy is
// refused), no redirect followed, and over HTTPS TLS 1.2 or later with
// the server's certificate verified as WinHTTP does by default (CryptoAPI's
// chain to the system's trust store, the name or address against the
// certificate). A GET blocks in a session of its own, each of its steps
// bounded by the time left before the deadline as far as WinHTTP's
// time-outs allow; the posts of a call share one session in WinHTTP's
// asynchronous mode, all at once, and those not ended by the deadline are
// closed.
// Wine's WinHTTP differs: a certificate it refuses ends the request as any
// failed handshake does (Failed, never Untrusted), it matches an IP address
// against the subject's common name but not the iPAddress entries of the
// subjectAltName, and its WinHttpCrackUrl cannot read a bracketed IPv6
// address.
class WinHttp : public Http {
public:
    using Http::Get;
    GetReply Get(const std::string& url, std::size_t maxBytes, std::chrono::steady_clock::time_point deadline,
                 const ProxyEntry& via) override;
    std::vector<HttpsReply> PostAll(const std::vector<HttpsPost>& posts, std::chrono::steady_clock::time_point deadline,
                                    const Serve& serve) override;
};

}  // namespace tarnwell::platform
