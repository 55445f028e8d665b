#pragma once
#include "platform/Http.h"

namespace tarnwell::platform {

// HTTP through libcurl, loaded at the first request: a check that fetches
// nothing (nearly every one) does not pay for loading it and its libraries.
class CurlHttp : public Http {
public:
    GetReply Get(const std::string& url, std::size_t maxBytes, std::chrono::steady_clock::time_point deadline) override;
    HttpsReply Post(const std::string& url, const std::string& contentType, const std::string& body,
                    std::size_t maxBytes, std::chrono::steady_clock::time_point deadline) override;
};

}  // namespace tarnwell::platform
