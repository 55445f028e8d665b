#pragma once
#include "platform/Proxy.h"
#include "platform/Serve.h"

#include <chrono>
#include <cstddef>
#include <string>
#include <vector>

namespace tarnwell::platform {

// How an HTTPS request ended.
enum class HttpsEnd {
    Reply,      // a 200 reply whose body fits
    Timeout,    // nothing whole by the deadline
    Untrusted,  // the server's certificate does not verify for the URL's host
    Failed      // refused, unreachable, no TLS, another status, a body too long
};

struct HttpsReply {
    HttpsEnd end = HttpsEnd::Failed;
    std::string body;  // of a Reply
};

// A small request to post over HTTPS: `body` as `contentType` to an https
// URL, asking for `contentType` back, at most `maxBytes` of it.
struct HttpsPost {
    std::string url;
    std::string contentType;
    std::string body;
    std::size_t maxBytes = 0;
    ProxyEntry via = {};  // the proxy it goes through; Direct: straight to the URL's host
};

// How a plain http GET ended.
enum class GetEnd {
    Reply,        // a 200 reply whose body fits
    Timeout,      // nothing whole by the deadline
    Unreachable,  // nobody to ask: the name not resolved, the connection refused or unreachable, or no HTTP here
    Refused,      // the server would not give it: another status, a body too long, a broken reply, a bad URL
};

struct GetReply {
    GetEnd end = GetEnd::Unreachable;
    std::string body;  // of a Reply
};

// HTTP as the check uses it: small bodies fetched by plain http, such as the
// issuer certificate a site left out of its chain (RFC 5280 section 4.2.2.1),
// and small requests posted over HTTPS, such as a DNS query (RFC 8484).
class Http {
public:
    virtual ~Http() = default;

    // GETs an http or https URL by the deadline (an https server verified
    // for the URL's host as PostAll verifies it), through `via` (Direct:
    // straight from the host the URL names; no redirect, no other scheme):
    // the body of a 200 reply of at most `maxBytes`, or how the request
    // ended without one. A proxy is asked as a browser asks it: an HTTP or
    // HTTPS proxy takes an http URL whole and makes a CONNECT tunnel for an
    // https one, a SOCKS proxy is given the URL's host name. Safe to call on
    // several threads at once.
    virtual GetReply Get(const std::string& url, std::size_t maxBytes,
                         std::chrono::steady_clock::time_point deadline, const ProxyEntry& via) = 0;
    GetReply Get(const std::string& url, std::size_t maxBytes, std::chrono::steady_clock::time_point deadline) {
        return Get(url, maxBytes, deadline, ProxyEntry{});
    }

    // Makes every post at once by the deadline, with TLS 1.2 or later, each
    // server's chain verified against the system's trust store for the
    // URL's host (an IP address by an iPAddress subjectAltName), each
    // through its own `via` as Get goes (no redirect, no other scheme). Waits on the
    // calling thread, serving `serve`, when set, between waits of at most
    // kServeSlice; a post not ended by the deadline timed out. The replies
    // come back in the order of `posts`. Safe to call on several threads at
    // once.
    virtual std::vector<HttpsReply> PostAll(const std::vector<HttpsPost>& posts,
                                            std::chrono::steady_clock::time_point deadline, const Serve& serve) = 0;
};

}  // namespace tarnwell::platform
