#pragma once
#include <chrono>
#include <cstddef>
#include <optional>
#include <string>

namespace tarnwell::platform {

// HTTP as the check uses it: small bodies fetched by plain http, such as the
// issuer certificate a site left out of its chain (RFC 5280 section 4.2.2.1).
class Http {
public:
    virtual ~Http() = default;

    // The body of a 200 reply to a GET of an http URL by the deadline, at
    // most `maxBytes`, straight from the host the URL names (no proxy, no
    // redirect, no other scheme); nothing otherwise. Safe to call on several
    // threads at once.
    virtual std::optional<std::string> Get(const std::string& url, std::size_t maxBytes,
                                           std::chrono::steady_clock::time_point deadline) = 0;
};

}  // namespace tarnwell::platform
