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
    decltype(&curl_slist_append) append = nullptr;
    decltype(&curl_slist_free_all) freeAll = nullptr;
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
                   Find(library, "curl_slist_append", c.append) && Find(library, "curl_slist_free_all", c.freeAll) &&
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

// One transfer: what `setMore` sets on top of the common options on top of the common ones (no proxy, no
// redirect, the bound, the body's limit); the status and the body, or the
// libcurl error.
struct Transfer {
    CURLcode code = CURLE_FAILED_INIT;
    long status = 0;
    std::string body;
};

template <class SetMore>
Transfer Perform(const std::string& url, const char* scheme, std::size_t maxBytes,
                 std::chrono::steady_clock::time_point deadline, SetMore setMore) {
    const Curl& curl = Library();
    const auto left = std::chrono::floor<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
    Transfer transfer;
    if (!curl.loaded) return transfer;
    if (left.count() < 1) {  // a time-out of 0 would mean no bound at all
        transfer.code = CURLE_OPERATION_TIMEDOUT;
        return transfer;
    }
    const std::unique_ptr<CURL, decltype(curl.cleanup)> owned(curl.init(), curl.cleanup);
    if (!owned) return transfer;
    CURL* c = owned.get();
    Body body{{}, maxBytes};
    curl_write_callback take = Take;
    const CURLcode set[] = {
        curl.setopt(c, CURLOPT_URL, url.c_str()),
        curl.setopt(c, CURLOPT_PROTOCOLS_STR, scheme),
        curl.setopt(c, CURLOPT_FOLLOWLOCATION, 0L),
        curl.setopt(c, CURLOPT_NOPROXY, "*"),
        curl.setopt(c, CURLOPT_NOSIGNAL, 1L),
        curl.setopt(c, CURLOPT_TIMEOUT_MS, static_cast<long>(left.count())),
        curl.setopt(c, CURLOPT_MAXFILESIZE_LARGE, static_cast<curl_off_t>(maxBytes)),
        curl.setopt(c, CURLOPT_WRITEFUNCTION, take),
        curl.setopt(c, CURLOPT_WRITEDATA, &body),
        setMore(curl, c),
    };
    const auto failed = std::find_if(std::begin(set), std::end(set), [](CURLcode code) { return code != CURLE_OK; });
    if (failed != std::end(set)) {
        transfer.code = *failed;
        return transfer;
    }
    transfer.code = curl.perform(c);
    if (transfer.code == CURLE_OK && curl.getinfo(c, CURLINFO_RESPONSE_CODE, &transfer.status) != CURLE_OK)
        transfer.code = CURLE_FAILED_INIT;
    transfer.body = std::move(body.bytes);
    return transfer;
}

}  // namespace

GetReply CurlHttp::Get(const std::string& url, std::size_t maxBytes, std::chrono::steady_clock::time_point deadline) {
    auto transfer = Perform(url, "http", maxBytes, deadline, [](const Curl&, CURL*) { return CURLE_OK; });
    switch (transfer.code) {
        case CURLE_OK:
            if (transfer.status != 200) return {GetEnd::Refused, {}};
            return {GetEnd::Reply, std::move(transfer.body)};
        case CURLE_OPERATION_TIMEDOUT: return {GetEnd::Timeout, {}};
        case CURLE_FAILED_INIT:  // no libcurl, or it could not start: nothing was asked
        case CURLE_COULDNT_RESOLVE_HOST:
        case CURLE_COULDNT_CONNECT: return {GetEnd::Unreachable, {}};
        default: return {GetEnd::Refused, {}};
    }
}

HttpsReply CurlHttp::Post(const std::string& url, const std::string& contentType, const std::string& body,
                          std::size_t maxBytes, std::chrono::steady_clock::time_point deadline) {
    const Curl& curl = Library();
    if (!curl.loaded) return {};
    struct List {
        const Curl& curl;
        curl_slist* list = nullptr;
        ~List() { curl.freeAll(list); }
    } headers{curl};
    for (const auto& header : {"Content-Type: " + contentType, "Accept: " + contentType}) {
        curl_slist* longer = curl.append(headers.list, header.c_str());
        if (!longer) return {};
        headers.list = longer;
    }
    // libcurl verifies the chain and the host, an IP address against the
    // iPAddress entries (RFC 6125 section 1.7.2), by default; both are
    // asked for all the same.
    auto transfer = Perform(url, "https", maxBytes, deadline, [&](const Curl& lib, CURL* c) {
        const CURLcode set[] = {
            lib.setopt(c, CURLOPT_SSLVERSION, static_cast<long>(CURL_SSLVERSION_TLSv1_2)),
            lib.setopt(c, CURLOPT_SSL_VERIFYPEER, 1L),
            lib.setopt(c, CURLOPT_SSL_VERIFYHOST, 2L),
            lib.setopt(c, CURLOPT_HTTPHEADER, headers.list),
            lib.setopt(c, CURLOPT_POSTFIELDSIZE, static_cast<long>(body.size())),
            lib.setopt(c, CURLOPT_POSTFIELDS, body.data()),
        };
        const auto failed = std::find_if(std::begin(set), std::end(set), [](CURLcode code) { return code != CURLE_OK; });
        return failed == std::end(set) ? CURLE_OK : *failed;
    });
    switch (transfer.code) {
        case CURLE_OK:
            if (transfer.status != 200) return {};
            return {HttpsEnd::Reply, std::move(transfer.body)};
        case CURLE_OPERATION_TIMEDOUT: return {HttpsEnd::Timeout, {}};
        case CURLE_PEER_FAILED_VERIFICATION:
        case CURLE_SSL_CACERT_BADFILE:
        case CURLE_SSL_ISSUER_ERROR: return {HttpsEnd::Untrusted, {}};
        default: return {};
    }
}

std::vector<HttpsReply> CurlHttp::PostAll(const std::vector<HttpsPost>& posts, std::chrono::steady_clock::time_point deadline,
                                   const Serve& serve) {
    std::vector<std::function<HttpsReply()>> calls;
    for (const auto& p : posts) calls.push_back([this, p, deadline] { return Post(p.url, p.contentType, p.body, p.maxBytes, deadline); });
    const auto replies = RunAll<HttpsReply>(std::move(calls), deadline, serve, false, HttpsReply{HttpsEnd::Failed, {}});
    std::vector<HttpsReply> out;
    for (const auto& r : replies) out.push_back(r.value_or(HttpsReply{HttpsEnd::Timeout, {}}));
    return out;
}

}  // namespace tarnwell::platform
