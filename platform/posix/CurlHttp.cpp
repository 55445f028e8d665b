#include "platform/posix/CurlHttp.h"

#include <curl/curl.h>
#include <dlfcn.h>

#include <algorithm>
#include <iterator>
#include <memory>
#include <mutex>

namespace tarnwell::platform {

namespace {

// The entry points of libcurl's ABI 4, as Debian's libcurl4 ships it.
struct Curl {
    decltype(&curl_global_init) globalInit = nullptr;
    decltype(&curl_easy_init) init = nullptr;
    decltype(&curl_easy_setopt) setopt = nullptr;
    decltype(&curl_easy_perform) perform = nullptr;
    decltype(&curl_easy_getinfo) getinfo = nullptr;
    decltype(&curl_easy_cleanup) cleanup = nullptr;
    bool loaded = false;
};

template <class F>
bool Find(void* library, const char* name, F& entry) {
    entry = reinterpret_cast<F>(dlsym(library, name));
    return entry != nullptr;
}

// Loaded once, for the life of the process; nothing when it cannot be.
const Curl& Library() {
    static const Curl curl = [] {
        Curl c;
        void* library = dlopen("libcurl.so.4", RTLD_NOW | RTLD_LOCAL);
        if (!library) return c;
        c.loaded = Find(library, "curl_global_init", c.globalInit) && Find(library, "curl_easy_init", c.init) &&
                   Find(library, "curl_easy_setopt", c.setopt) && Find(library, "curl_easy_perform", c.perform) &&
                   Find(library, "curl_easy_getinfo", c.getinfo) && Find(library, "curl_easy_cleanup", c.cleanup) &&
                   c.globalInit(CURL_GLOBAL_DEFAULT) == CURLE_OK;
        return c;
    }();
    return curl;
}

struct Body {
    std::string bytes;
    std::size_t max;
};

std::size_t Take(char* data, std::size_t size, std::size_t count, void* to) {
    auto& body = *static_cast<Body*>(to);
    const std::size_t bytes = size * count;
    if (bytes > body.max - body.bytes.size()) return 0;  // too much: the transfer ends in error
    body.bytes.append(data, bytes);
    return bytes;
}

}  // namespace

std::optional<std::string> CurlHttp::Get(const std::string& url, std::size_t maxBytes,
                                         std::chrono::steady_clock::time_point deadline) {
    const Curl& curl = Library();
    const auto left = std::chrono::floor<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
    if (!curl.loaded || left.count() < 1) return std::nullopt;  // a time-out of 0 would mean no bound at all
    const std::unique_ptr<CURL, decltype(curl.cleanup)> owned(curl.init(), curl.cleanup);
    if (!owned) return std::nullopt;
    CURL* c = owned.get();
    Body body{{}, maxBytes};
    curl_write_callback take = Take;
    const CURLcode set[] = {
        curl.setopt(c, CURLOPT_URL, url.c_str()),
        curl.setopt(c, CURLOPT_PROTOCOLS_STR, "http"),
        curl.setopt(c, CURLOPT_FOLLOWLOCATION, 0L),
        curl.setopt(c, CURLOPT_NOPROXY, "*"),
        curl.setopt(c, CURLOPT_NOSIGNAL, 1L),
        curl.setopt(c, CURLOPT_TIMEOUT_MS, static_cast<long>(left.count())),
        curl.setopt(c, CURLOPT_MAXFILESIZE_LARGE, static_cast<curl_off_t>(maxBytes)),
        curl.setopt(c, CURLOPT_WRITEFUNCTION, take),
        curl.setopt(c, CURLOPT_WRITEDATA, &body),
    };
    if (std::any_of(std::begin(set), std::end(set), [](CURLcode code) { return code != CURLE_OK; }))
        return std::nullopt;
    long status = 0;
    if (curl.perform(c) != CURLE_OK || curl.getinfo(c, CURLINFO_RESPONSE_CODE, &status) != CURLE_OK || status != 200)
        return std::nullopt;
    return std::move(body.bytes);
}

}  // namespace tarnwell::platform
