#pragma once
#include "platform/Http.h"

#include <chrono>
#include <cstddef>
#include <memory>
#include <optional>
#include <poll.h>
#include <string>
#include <vector>

namespace tarnwell::platform {

// HTTP transfers made together on the calling thread through one libcurl
// multi handle, waited for beside descriptors of the caller's own (a probe's
// socket), by one deadline. libcurl is loaded at the first transfer: a call
// that fetches nothing (nearly every one) does not pay for loading it and
// its libraries. A host name in a URL (through a proxy, the proxy's: the
// proxy resolves the URL's) is resolved by the transfers' own resolver, one
// thread at most that asks for one name after another, and handed to libcurl
// as an address (CURLOPT_RESOLVE): libcurl's threaded resolver would take a
// thread for every transfer. libcurl never reads the environment's proxy
// variables. Used by one thread at a time; several may each have their own.
class Transfers {
public:
    explicit Transfers(std::chrono::steady_clock::time_point deadline);
    ~Transfers();
    Transfers(const Transfers&) = delete;
    Transfers& operator=(const Transfers&) = delete;

    // Starts a GET of an http or https URL, or a post, straight from the
    // host the URL names or through `via` (a post's own) as Http::Get goes
    // (no redirect, no other scheme), at most `maxBytes` (a post's) back;
    // gives its number, from 0 in the order started. One that cannot be
    // started has ended at once. Throws std::bad_alloc when even that cannot
    // be noted.
    std::size_t Get(const std::string& url, std::size_t maxBytes, const ProxyEntry& via = {});
    std::size_t Post(const HttpsPost& post);

    // Waits until one of `fds` (their revents then set) or a transfer is
    // ready, or at most `wait`, and moves the transfers on.
    void Wait(std::vector<pollfd>& fds, std::chrono::milliseconds wait);

    // Whether every transfer has ended.
    bool Ended() const;
    // Ends every transfer still running, as timed out.
    void Expire();

    // How transfer `n` ended, once it has.
    std::optional<GetReply> GetEnded(std::size_t n) const;
    std::optional<HttpsReply> PostEnded(std::size_t n) const;

private:
    struct State;
    std::unique_ptr<State> state_;
};

// HTTP through Transfers: the witnesses' posts all in one call, on the
// calling thread.
class CurlHttp : public Http {
public:
    using Http::Get;
    GetReply Get(const std::string& url, std::size_t maxBytes, std::chrono::steady_clock::time_point deadline,
                 const ProxyEntry& via) override;
    std::vector<HttpsReply> PostAll(const std::vector<HttpsPost>& posts, std::chrono::steady_clock::time_point deadline,
                                    const Serve& serve) override;
};

}  // namespace tarnwell::platform
