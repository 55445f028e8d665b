#pragma once
#include "platform/Http.h"

namespace tarnwell::platform {

// HTTP through libcurl, loaded at the first request: a check that fetches
// nothing (nearly every one) does not pay for loading it and its libraries.
class CurlHttp : public Http {
public:
    GetReply Get(const std::string& url, std::size_t maxBytes, std::chrono::steady_clock::time_point deadline) override;
    std::vector<HttpsReply> PostAll(const std::vector<HttpsPost>& posts, std::chrono::steady_clock::time_point deadline,
                                    const Serve& serve) override;
    // One post, blocking until it ends.
    HttpsReply Post(const std::string& url, const std::string& contentType, const std::string& body,
                    std::size_t maxBytes, std::chrono::steady_clock::time_point deadline);
};

}  // namespace tarnwell::platform
