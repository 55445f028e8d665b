#include "platform/posix/CurlHttp.h"

#include "platform/posix/PosixSockets.h"

#include <arpa/inet.h>
#include <curl/curl.h>
#include <dlfcn.h>
#include <netdb.h>
#include <sys/eventfd.h>
#include <unistd.h>

#include <algorithm>
#include <condition_variable>
#include <deque>
#include <iterator>
#include <mutex>
#include <new>
#include <thread>
#include <utility>

namespace tarnwell::platform {

namespace {

using Clock = std::chrono::steady_clock;
using std::chrono::milliseconds;

// The entry points of libcurl's ABI 4, as Debian's libcurl4 ships it.
struct Curl {
    decltype(&curl_global_init) globalInit = nullptr;
    decltype(&curl_easy_init) init = nullptr;
    decltype(&curl_easy_setopt) setopt = nullptr;
    decltype(&curl_easy_getinfo) getinfo = nullptr;
    decltype(&curl_easy_cleanup) cleanup = nullptr;
    decltype(&curl_slist_append) append = nullptr;
    decltype(&curl_slist_free_all) freeAll = nullptr;
    decltype(&curl_multi_init) multiInit = nullptr;
    decltype(&curl_multi_add_handle) add = nullptr;
    decltype(&curl_multi_remove_handle) remove = nullptr;
    decltype(&curl_multi_poll) poll = nullptr;
    decltype(&curl_multi_perform) perform = nullptr;
    decltype(&curl_multi_info_read) infoRead = nullptr;
    decltype(&curl_multi_cleanup) multiCleanup = nullptr;
    decltype(&curl_url) url = nullptr;
    decltype(&curl_url_set) urlSet = nullptr;
    decltype(&curl_url_get) urlGet = nullptr;
    decltype(&curl_url_cleanup) urlCleanup = nullptr;
    decltype(&curl_free) free = nullptr;
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
        void* l = dlopen("libcurl.so.4", RTLD_NOW | RTLD_LOCAL);
        if (!l) return c;
        c.loaded = Find(l, "curl_global_init", c.globalInit) && Find(l, "curl_easy_init", c.init) &&
                   Find(l, "curl_easy_setopt", c.setopt) && Find(l, "curl_easy_getinfo", c.getinfo) &&
                   Find(l, "curl_easy_cleanup", c.cleanup) && Find(l, "curl_slist_append", c.append) &&
                   Find(l, "curl_slist_free_all", c.freeAll) && Find(l, "curl_multi_init", c.multiInit) &&
                   Find(l, "curl_multi_add_handle", c.add) && Find(l, "curl_multi_remove_handle", c.remove) &&
                   Find(l, "curl_multi_poll", c.poll) && Find(l, "curl_multi_perform", c.perform) &&
                   Find(l, "curl_multi_info_read", c.infoRead) && Find(l, "curl_multi_cleanup", c.multiCleanup) &&
                   Find(l, "curl_url", c.url) && Find(l, "curl_url_set", c.urlSet) &&
                   Find(l, "curl_url_get", c.urlGet) && Find(l, "curl_url_cleanup", c.urlCleanup) &&
                   Find(l, "curl_free", c.free) && c.globalInit(CURL_GLOBAL_DEFAULT) == CURLE_OK;
        return c;
    }();
    return curl;
}

// The addresses of a host name as CURLOPT_RESOLVE lists them
// ("192.0.2.1,[2001:db8::1]"), in the order getaddrinfo gives them (RFC
// 6724); empty when it does not resolve.
std::string Lookup(const std::string& name) {
    addrinfo hints{};
    hints.ai_family = AF_UNSPEC;
    hints.ai_socktype = SOCK_STREAM;
    addrinfo* found = nullptr;
    if (::getaddrinfo(name.c_str(), nullptr, &hints, &found) != 0) return {};
    const std::unique_ptr<addrinfo, decltype(&::freeaddrinfo)> owned(found, ::freeaddrinfo);
    std::vector<std::string> texts;
    for (const addrinfo* a = found; a; a = a->ai_next) {
        const auto address = FromSockaddr(a->ai_addr);
        if (!address || !address->Zone().empty()) continue;  // a link-local address names no host on the way
        std::string text = address->IsV4() ? address->Text() : std::string("[").append(address->Text()).append("]");
        if (std::find(texts.begin(), texts.end(), text) == texts.end()) texts.push_back(std::move(text));
    }
    std::string list;
    for (const auto& text : texts) list.append(list.empty() ? "" : ",").append(text);
    return list;
}

// The host names of one set of transfers, resolved one after another on a
// single thread of its own, started at the first name. When the transfers
// end it is abandoned: it asks for no other name, and ends once the one it
// is asking for has resolved (glibc keeps the bounds of resolv.conf).
class Resolver {
public:
    ~Resolver() {
        if (!shared_) return;
        std::lock_guard lock(shared_->mutex);
        shared_->abandoned = true;
        shared_->asked.notify_all();
    }

    // Asks for `name`'s addresses. Without a thread (a task limit) or a
    // descriptor to be woken through, it resolves nothing.
    void Ask(const std::string& name) {
        if (std::find(pending_.begin(), pending_.end(), name) != pending_.end()) return;
        pending_.push_back(name);
        if (failed_ || (!shared_ && !Start())) return;
        std::lock_guard lock(shared_->mutex);
        shared_->names.push_back(name);
        shared_->asked.notify_all();
    }

    // Readable once an answer has come; -1 while none can.
    int Ready() const { return shared_ && !failed_ ? shared_->ready : -1; }

    // The answers come since the last call: each name and its addresses
    // (none when it did not resolve, or cannot be).
    std::vector<std::pair<std::string, std::string>> Answers() {
        std::vector<std::pair<std::string, std::string>> answers;
        if (shared_) {
            std::lock_guard lock(shared_->mutex);
            eventfd_t count;
            ::eventfd_read(shared_->ready, &count);
            answers.swap(shared_->answers);
            failed_ = failed_ || shared_->failed;
        }
        if (failed_)
            for (const auto& name : pending_) answers.emplace_back(name, std::string());
        for (const auto& [name, addresses] : answers) std::erase(pending_, name);
        return answers;
    }

private:
    struct Shared {
        std::mutex mutex;
        std::condition_variable asked;
        std::deque<std::string> names;
        std::vector<std::pair<std::string, std::string>> answers;
        bool abandoned = false;
        bool failed = false;  // the thread could not go on
        const int ready = ::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
        ~Shared() {
            if (ready >= 0) ::close(ready);
        }
    };

    static void Resolve(Shared& shared) {
        std::unique_lock lock(shared.mutex);
        while (!shared.abandoned) {
            if (shared.names.empty()) {
                shared.asked.wait(lock);
                continue;
            }
            const std::string name = std::move(shared.names.front());
            shared.names.pop_front();
            lock.unlock();
            std::string addresses = Lookup(name);
            lock.lock();
            shared.answers.emplace_back(name, std::move(addresses));
            ::eventfd_write(shared.ready, 1);
        }
    }

    // The thread started, or the resolver failed.
    bool Start() {
        try {
            auto shared = std::make_shared<Shared>();
            if (shared->ready < 0) throw std::bad_alloc();  // no descriptor to wake the caller through
            std::thread([shared] {
                try {
                    Resolve(*shared);
                } catch (...) {  // no memory: no name is resolved any more
                    std::lock_guard lock(shared->mutex);
                    shared->failed = true;
                    ::eventfd_write(shared->ready, 1);
                }
            }).detach();
            shared_ = std::move(shared);
            return true;
        } catch (const std::exception&) {  // no thread, descriptor or memory to be had
            failed_ = true;
            return false;
        }
    }

    std::shared_ptr<Shared> shared_;
    std::vector<std::string> pending_;  // asked, not answered yet
    bool failed_ = false;
};

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

template <class T>
using Owned = std::unique_ptr<T, void (*)(T*)>;

// One transfer: its handle, what libcurl reads of ours while it runs, the
// host name it waits for, and how it ended.
struct Transfer {
    Owned<CURL> easy{nullptr, nullptr};
    Body body;
    Owned<curl_slist> headers{nullptr, nullptr};
    Owned<curl_slist> resolve{nullptr, nullptr};
    std::string host, port;  // while its host name is resolved
    bool added = false;      // to the multi handle
    std::optional<CURLcode> code;
    long status = 0;
};

// The host and port a URL names, as libcurl reads it ("[2001:db8::1]" for an
// IPv6 address); nothing for a URL it cannot read.
std::optional<std::pair<std::string, std::string>> HostOf(const Curl& curl, const std::string& url) {
    const Owned<CURLU> parsed(curl.url(), curl.urlCleanup);
    char *host = nullptr, *port = nullptr;
    const bool read = parsed && curl.urlSet(parsed.get(), CURLUPART_URL, url.c_str(), 0) == CURLUE_OK &&
                      curl.urlGet(parsed.get(), CURLUPART_HOST, &host, 0) == CURLUE_OK &&
                      curl.urlGet(parsed.get(), CURLUPART_PORT, &port, CURLU_DEFAULT_PORT) == CURLUE_OK;
    const std::unique_ptr<char, void (*)(void*)> freeHost(host, curl.free), freePort(port, curl.free);
    if (!read) return std::nullopt;
    return std::pair<std::string, std::string>(host, port);
}

bool Literal(const std::string& host) {
    in_addr v4;
    return host.starts_with('[') || ::inet_pton(AF_INET, host.c_str(), &v4) == 1;
}

// An IPv6 address in brackets, as a URL writes it.
std::string Bracketed(const std::string& host) {
    return host.find(':') == std::string::npos ? host : "[" + host + "]";
}

// The proxy as libcurl names it, "" for none (which keeps libcurl from the
// environment's proxy variables). A SOCKS proxy is given the URL's host name
// (SOCKS4a, SOCKS5 with ATYP 3), as the browser gives it.
std::string ProxyUrl(const ProxyEntry& via) {
    const char* scheme = via.scheme == ProxyScheme::Http     ? "http://"
                         : via.scheme == ProxyScheme::Https  ? "https://"
                         : via.scheme == ProxyScheme::Socks4 ? "socks4a://"
                         : via.scheme == ProxyScheme::Socks5 ? "socks5h://"
                                                             : nullptr;
    if (!scheme) return {};
    return scheme + Bracketed(via.host) + ":" + std::to_string(via.port);
}

CURLcode FirstFailed(std::initializer_list<CURLcode> set) {
    const auto failed = std::find_if(set.begin(), set.end(), [](CURLcode code) { return code != CURLE_OK; });
    return failed == set.end() ? CURLE_OK : *failed;
}

}  // namespace

struct Transfers::State {
    explicit State(Clock::time_point deadline) : deadline(deadline) {}
    ~State() {
        for (auto& t : transfers)
            if (t.added) curl->remove(multi, t.easy.get());
        transfers.clear();
        if (multi) curl->multiCleanup(multi);
    }

    const Clock::time_point deadline;
    const Curl* curl = nullptr;
    CURLM* multi = nullptr;
    std::deque<Transfer> transfers;  // references to them stay valid as more come
    Resolver resolver;
    std::vector<std::pair<std::string, std::string>> heard;  // its answers: each name and its addresses
    std::vector<curl_waitfd> waits;

    Transfer& Open(std::size_t maxBytes) {
        auto& t = transfers.emplace_back();
        t.body.max = maxBytes;
        t.body.bytes.reserve(maxBytes);  // the body's room had here: none is asked for inside libcurl's calls
        return t;
    }

    // The handle with the options every transfer has, and `more`; the
    // transfer is started once its host has an address.
    template <class More>
    void Start(Transfer& t, const std::string& url, const char* scheme, const ProxyEntry& via, More more) {
        if (Clock::now() >= deadline) {
            t.code = CURLE_OPERATION_TIMEDOUT;
            return;
        }
        const Curl& c = Library();
        curl = &c;
        if (!c.loaded || (!multi && !(multi = c.multiInit())) || !(t.easy = Owned<CURL>(c.init(), c.cleanup))) {
            t.code = CURLE_FAILED_INIT;  // no libcurl, or it could not start: nothing was asked
            return;
        }
        CURL* e = t.easy.get();
        curl_write_callback take = Take;
        // No proxy but `via`: an empty list of hosts to bypass it keeps
        // libcurl from the environment's no_proxy.
        const std::string proxy = ProxyUrl(via);
        t.code = FirstFailed({c.setopt(e, CURLOPT_URL, url.c_str()), c.setopt(e, CURLOPT_PROTOCOLS_STR, scheme),
                              c.setopt(e, CURLOPT_FOLLOWLOCATION, 0L), c.setopt(e, CURLOPT_PROXY, proxy.c_str()),
                              c.setopt(e, CURLOPT_NOPROXY, ""),
                              c.setopt(e, CURLOPT_NOSIGNAL, 1L), c.setopt(e, CURLOPT_PRIVATE, &t),
                              c.setopt(e, CURLOPT_MAXFILESIZE_LARGE, static_cast<curl_off_t>(t.body.max)),
                              c.setopt(e, CURLOPT_WRITEFUNCTION, take), c.setopt(e, CURLOPT_WRITEDATA, &t.body),
                              more(c, e)});
        if (*t.code != CURLE_OK) {
            t.code = CURLE_FAILED_INIT;  // an option this libcurl lacks, or no memory: nothing was asked
            return;
        }
        t.code.reset();
        // Through a proxy only the proxy's host is resolved here: the
        // proxy resolves the URL's.
        auto host = proxy.empty() ? HostOf(c, url) : std::pair(Bracketed(via.host), std::to_string(via.port));
        if (!host) {
            t.code = CURLE_URL_MALFORMAT;
        } else if (Literal(host->first)) {
            Add(t);
        } else {
            std::tie(t.host, t.port) = std::move(*host);
            if (std::none_of(heard.begin(), heard.end(), [&](const auto& h) { return h.first == t.host; }))
                resolver.Ask(t.host);
            Heard();
        }
    }

    // The transfer handed to libcurl, with the time left as its bound.
    void Add(Transfer& t) {
        const auto left = std::chrono::floor<milliseconds>(deadline - Clock::now());
        if (left.count() < 1) {  // a time-out of 0 would mean no bound at all
            t.code = CURLE_OPERATION_TIMEDOUT;
            return;
        }
        if (curl->setopt(t.easy.get(), CURLOPT_TIMEOUT_MS, static_cast<long>(left.count())) != CURLE_OK ||
            curl->add(multi, t.easy.get()) != CURLM_OK) {
            t.code = CURLE_FAILED_INIT;
            return;
        }
        t.added = true;
    }

    // The transfers whose host names the resolver has answered for started,
    // with those addresses; those it could not resolve ended.
    void Heard() {
        try {
            for (auto& answer : resolver.Answers()) heard.push_back(std::move(answer));
            for (const auto& [name, addresses] : heard)
                for (auto& t : transfers) {
                    if (t.code || t.added || t.host != name) continue;
                    const std::string entry = t.host + ":" + t.port + ":" + addresses;
                    t.resolve = Owned<curl_slist>(addresses.empty() ? nullptr : curl->append(nullptr, entry.c_str()),
                                                  curl->freeAll);
                    if (!t.resolve)
                        t.code = addresses.empty() ? CURLE_COULDNT_RESOLVE_HOST : CURLE_FAILED_INIT;
                    else if (curl->setopt(t.easy.get(), CURLOPT_RESOLVE, t.resolve.get()) != CURLE_OK)
                        t.code = CURLE_FAILED_INIT;
                    else
                        Add(t);
                }
        } catch (const std::bad_alloc&) {  // the answers are heard at the next wait
        }
    }

    // Waits through libcurl for its transfers and the caller's descriptors;
    // the descriptors' own poll then tells which of them are ready.
    void Poll(std::vector<pollfd>& fds, milliseconds wait) {
        waits.clear();
        for (const auto& f : fds) waits.push_back({f.fd, f.events, 0});
        if (resolver.Ready() >= 0) waits.push_back({resolver.Ready(), CURL_WAIT_POLLIN, 0});
        if (curl->poll(multi, waits.data(), static_cast<unsigned>(waits.size()), static_cast<int>(wait.count()),
                       nullptr) != CURLM_OK)
            ::poll(fds.data(), fds.size(), static_cast<int>(wait.count()));
        ::poll(fds.data(), fds.size(), 0);
    }

    // The transfers moved on, and those that ended taken from libcurl.
    void Perform() {
        int running = 0;
        curl->perform(multi, &running);
        int left = 0;
        while (const CURLMsg* message = curl->infoRead(multi, &left)) {
            if (message->msg != CURLMSG_DONE) continue;
            char* which = nullptr;
            curl->getinfo(message->easy_handle, CURLINFO_PRIVATE, &which);
            auto& t = *reinterpret_cast<Transfer*>(which);
            t.code = message->data.result;
            if (t.code == CURLE_OK && curl->getinfo(t.easy.get(), CURLINFO_RESPONSE_CODE, &t.status) != CURLE_OK)
                t.code = CURLE_FAILED_INIT;
            curl->remove(multi, t.easy.get());
            t.added = false;
            t.easy.reset();
        }
    }
};

Transfers::Transfers(Clock::time_point deadline) : state_(std::make_unique<State>(deadline)) {}

Transfers::~Transfers() = default;

std::size_t Transfers::Get(const std::string& url, std::size_t maxBytes, const ProxyEntry& via) {
    auto& t = state_->Open(maxBytes);
    try {
        state_->Start(t, url, "http,https", via, [](const Curl&, CURL*) { return CURLE_OK; });
    } catch (const std::bad_alloc&) {
        t.code = CURLE_FAILED_INIT;
    }
    return state_->transfers.size() - 1;
}

std::size_t Transfers::Post(const HttpsPost& post) {
    auto& t = state_->Open(post.maxBytes);
    try {
        state_->Start(t, post.url, "https", post.via, [&](const Curl& c, CURL* e) {
            for (const auto& header : {"Content-Type: " + post.contentType, "Accept: " + post.contentType}) {
                curl_slist* longer = c.append(t.headers.get(), header.c_str());
                if (!longer) return CURLE_OUT_OF_MEMORY;
                t.headers.release();
                t.headers = Owned<curl_slist>(longer, c.freeAll);
            }
            // libcurl verifies the chain and the host, an IP address against
            // the iPAddress entries (RFC 6125 section 1.7.2), by default; both
            // are asked for all the same.
            return FirstFailed({c.setopt(e, CURLOPT_SSLVERSION, static_cast<long>(CURL_SSLVERSION_TLSv1_2)),
                                c.setopt(e, CURLOPT_SSL_VERIFYPEER, 1L), c.setopt(e, CURLOPT_SSL_VERIFYHOST, 2L),
                                c.setopt(e, CURLOPT_HTTPHEADER, t.headers.get()),
                                c.setopt(e, CURLOPT_POSTFIELDSIZE, static_cast<long>(post.body.size())),
                                c.setopt(e, CURLOPT_COPYPOSTFIELDS, post.body.data())});
        });
    } catch (const std::bad_alloc&) {
        t.code = CURLE_FAILED_INIT;
    }
    return state_->transfers.size() - 1;
}

void Transfers::Wait(std::vector<pollfd>& fds, milliseconds wait) {
    State& s = *state_;
    if (!s.multi) {
        ::poll(fds.data(), fds.size(), static_cast<int>(wait.count()));
        return;
    }
    try {
        s.Poll(fds, wait);
    } catch (const std::bad_alloc&) {  // the caller's descriptors alone
        ::poll(fds.data(), fds.size(), static_cast<int>(wait.count()));
    }
    s.Heard();
    s.Perform();
}

bool Transfers::Ended() const {
    return std::all_of(state_->transfers.begin(), state_->transfers.end(), [](const Transfer& t) { return t.code; });
}

void Transfers::Expire() {
    for (auto& t : state_->transfers) {
        if (t.code) continue;
        if (t.added) state_->curl->remove(state_->multi, t.easy.get());
        t.added = false;
        t.code = CURLE_OPERATION_TIMEDOUT;
    }
}

std::optional<GetReply> Transfers::GetEnded(std::size_t n) const {
    const Transfer& t = state_->transfers[n];
    if (!t.code) return std::nullopt;
    switch (*t.code) {
        case CURLE_OK:
            if (t.status != 200) return GetReply{GetEnd::Refused, {}};
            return GetReply{GetEnd::Reply, t.body.bytes};
        case CURLE_OPERATION_TIMEDOUT: return GetReply{GetEnd::Timeout, {}};
        case CURLE_FAILED_INIT:  // nothing was asked
        case CURLE_OUT_OF_MEMORY:  // nor anything learnt of the server
        case CURLE_COULDNT_RESOLVE_HOST:
        case CURLE_COULDNT_RESOLVE_PROXY:
        case CURLE_COULDNT_CONNECT: return GetReply{GetEnd::Unreachable, {}};
        default: return GetReply{GetEnd::Refused, {}};
    }
}

std::optional<HttpsReply> Transfers::PostEnded(std::size_t n) const {
    const Transfer& t = state_->transfers[n];
    if (!t.code) return std::nullopt;
    switch (*t.code) {
        case CURLE_OK:
            if (t.status != 200) return HttpsReply{};
            return HttpsReply{HttpsEnd::Reply, t.body.bytes};
        case CURLE_OPERATION_TIMEDOUT: return HttpsReply{HttpsEnd::Timeout, {}};
        case CURLE_PEER_FAILED_VERIFICATION:
        case CURLE_SSL_CACERT_BADFILE:
        case CURLE_SSL_ISSUER_ERROR: return HttpsReply{HttpsEnd::Untrusted, {}};
        default: return HttpsReply{};
    }
}

namespace {

// Moves the transfers on until every one has ended or the deadline has
// passed (those still running then time out), serving `serve` between waits
// of at most kServeSlice.
void Drive(Transfers& transfers, Clock::time_point deadline, const Serve& serve) {
    std::vector<pollfd> none;
    while (!transfers.Ended()) {
        const auto left = std::chrono::ceil<milliseconds>(deadline - Clock::now());
        if (left.count() <= 0) break;
        transfers.Wait(none, serve ? std::min<milliseconds>(left, kServeSlice) : left);
        if (serve) serve();
    }
    transfers.Expire();
}

}  // namespace

GetReply CurlHttp::Get(const std::string& url, std::size_t maxBytes, Clock::time_point deadline, const ProxyEntry& via) {
    try {
        Transfers transfers(deadline);
        transfers.Get(url, maxBytes, via);
        Drive(transfers, deadline, {});
        return *transfers.GetEnded(0);
    } catch (const std::bad_alloc&) {
        return {};  // nothing was asked: nobody to ask
    }
}

std::vector<HttpsReply> CurlHttp::PostAll(const std::vector<HttpsPost>& posts, Clock::time_point deadline,
                                          const Serve& serve) {
    try {
        Transfers transfers(deadline);
        for (const auto& post : posts) transfers.Post(post);
        Drive(transfers, deadline, serve);
        std::vector<HttpsReply> replies;
        for (std::size_t i = 0; i < posts.size(); ++i) replies.push_back(*transfers.PostEnded(i));
        return replies;
    } catch (const std::bad_alloc&) {  // the posts that could not be made failed
    }
    try {
        return std::vector<HttpsReply>(posts.size());
    } catch (const std::bad_alloc&) {
        return {};  // nothing heard of any: the caller counts them silent
    }
}

}  // namespace tarnwell::platform
