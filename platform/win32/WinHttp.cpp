#include "platform/win32/WinHttp.h"

#include "platform/win32/WinText.h"

#include <windows.h>
#include <winhttp.h>

#include <algorithm>
#include <climits>
#include <condition_variable>
#include <memory>
#include <mutex>
#include <optional>
#include <string_view>
#include <utility>

namespace tarnwell::platform {

namespace {

using Clock = std::chrono::steady_clock;

struct HandleCloser {
    void operator()(HINTERNET handle) const { WinHttpCloseHandle(handle); }
};
using Handle = std::unique_ptr<void, HandleCloser>;

DWORD MillisecondsLeft(Clock::time_point deadline) {
    const auto left = std::chrono::ceil<std::chrono::milliseconds>(deadline - Clock::now()).count();
    return left > 0 ? static_cast<DWORD>(std::min<long long>(left, INT_MAX)) : 0;
}

// The errors WinHTTP gives for a server certificate it does not accept.
bool CertificateError(DWORD error) {
    switch (error) {
        case ERROR_WINHTTP_SECURE_FAILURE:
        case ERROR_WINHTTP_SECURE_INVALID_CA:
        case ERROR_WINHTTP_SECURE_CERT_CN_INVALID:
        case ERROR_WINHTTP_SECURE_CERT_DATE_INVALID:
        case ERROR_WINHTTP_SECURE_INVALID_CERT:
        case ERROR_WINHTTP_SECURE_CERT_REVOKED:
        case ERROR_WINHTTP_SECURE_CERT_WRONG_USAGE:
            return true;
        default:
            return false;
    }
}

// How a request that failed with `error` ended: the certificate refused,
// the time up (WinHTTP's own time-out, or whatever it ran into once the
// deadline had passed), or anything else.
HttpsReply Ended(DWORD error, Clock::time_point deadline) {
    if (CertificateError(error)) return {HttpsEnd::Untrusted, {}};
    if (error == ERROR_WINHTTP_TIMEOUT || Clock::now() >= deadline) return {HttpsEnd::Timeout, {}};
    return {};
}

// Gives the request's next call the time left at most. WinHTTP times each
// step on its own (the name, the connection, each send and each receive,
// the reply's headers), so every call is bounded again by what remains.
// Wine bounds each receive of the headers but not all of them together.
// False, with the reason as the last error, once nothing is left or if
// WinHTTP refuses.
bool Bound(HINTERNET request, Clock::time_point deadline) {
    DWORD left = MillisecondsLeft(deadline);
    if (!left) {
        SetLastError(ERROR_WINHTTP_TIMEOUT);
        return false;
    }
    const int ms = static_cast<int>(left);
    return WinHttpSetTimeouts(request, ms, ms, ms, ms) &&
           WinHttpSetOption(request, WINHTTP_OPTION_RECEIVE_RESPONSE_TIMEOUT, &left, sizeof left);
}

std::wstring Component(const wchar_t* text, DWORD length) { return text ? std::wstring(text, length) : std::wstring(); }

// What WinHttpConnect and WinHttpOpenRequest take of a URL.
struct Target {
    std::wstring host;  // an IPv6 address keeps its brackets, as WinHttpConnect takes it
    INTERNET_PORT port = 0;
    std::wstring path;  // with the query, never the fragment
};

// The URL's target, when the URL is of `scheme` and names a host.
std::optional<Target> Parse(const std::string& url, INTERNET_SCHEME scheme) {
    const std::wstring wide = Widen(url);
    URL_COMPONENTS parts{};
    parts.dwStructSize = sizeof parts;
    parts.dwHostNameLength = parts.dwUrlPathLength = parts.dwExtraInfoLength = static_cast<DWORD>(-1);
    // The port is the URL's or the scheme's own, never 0: WinHttpConnect
    // would take that for the scheme's.
    if (wide.empty() || wide.size() > MAXDWORD ||
        !WinHttpCrackUrl(wide.c_str(), static_cast<DWORD>(wide.size()), 0, &parts) || parts.nScheme != scheme ||
        !parts.dwHostNameLength || !parts.nPort)
        return std::nullopt;
    Target target{Component(parts.lpszHostName, parts.dwHostNameLength), parts.nPort,
                  Component(parts.lpszUrlPath, parts.dwUrlPathLength)};
    const std::wstring extra = Component(parts.lpszExtraInfo, parts.dwExtraInfoLength);
    target.path += extra.substr(0, extra.find(L'#'));
    if (target.path.empty()) target.path = L"/";
    return target;
}

// Whether WinHTTP can go through `via`: straight, or an HTTP proxy, which it
// sends an http URL whole and asks for a CONNECT tunnel for an https one.
// WinHTTP has no SOCKS, and speaks plain HTTP to a proxy named "https://":
// requests through either are refused here rather than sent another way.
bool Reachable(const ProxyEntry& via) {
    return via.scheme == ProxyScheme::Direct || via.scheme == ProxyScheme::Http;
}

// A session through `via` (one that Reachable takes) whatever proxy the
// system names, with TLS 1.2 or later: 1.3 too where WinHTTP knows it, and
// a WinHTTP that does not refuses the option that names it. The proxy is
// the session's own, named to WinHttpOpen, and no host bypasses it (Wine
// takes WINHTTP_OPTION_PROXY and ignores it). False, with the reason as the
// last error, when it cannot be had.
bool OpenSession(Handle& session, DWORD flags, const ProxyEntry& via) {
    if (via.scheme == ProxyScheme::Direct) {
        session.reset(
            WinHttpOpen(nullptr, WINHTTP_ACCESS_TYPE_NO_PROXY, WINHTTP_NO_PROXY_NAME, WINHTTP_NO_PROXY_BYPASS, flags));
    } else {
        const bool v6 = via.host.find(':') != std::string::npos;
        const std::wstring proxy = (v6 ? L"[" : L"") + Widen(via.host) + (v6 ? L"]:" : L":") + std::to_wstring(via.port);
        session.reset(WinHttpOpen(nullptr, WINHTTP_ACCESS_TYPE_NAMED_PROXY, proxy.c_str(), WINHTTP_NO_PROXY_BYPASS, flags));
    }
    if (!session) return false;
    DWORD protocols = WINHTTP_FLAG_SECURE_PROTOCOL_TLS1_2 | WINHTTP_FLAG_SECURE_PROTOCOL_TLS1_3;
    if (WinHttpSetOption(session.get(), WINHTTP_OPTION_SECURE_PROTOCOLS, &protocols, sizeof protocols)) return true;
    protocols = WINHTTP_FLAG_SECURE_PROTOCOL_TLS1_2;
    return WinHttpSetOption(session.get(), WINHTTP_OPTION_SECURE_PROTOCOLS, &protocols, sizeof protocols);
}

// The connection to the target's host and a request of `verb` on it, no
// redirect followed, HTTP/2 where WinHTTP has it (some servers speak
// nothing older) and HTTP/1.1 where it has not. False, with the reason as
// the last error, when either cannot be had.
bool OpenRequest(HINTERNET session, const Target& target, const wchar_t* verb, bool secure, Handle& connection,
                 Handle& request) {
    connection.reset(WinHttpConnect(session, target.host.c_str(), target.port, 0));
    if (!connection) return false;
    request.reset(WinHttpOpenRequest(connection.get(), verb, target.path.c_str(), nullptr, WINHTTP_NO_REFERER,
                                     WINHTTP_DEFAULT_ACCEPT_TYPES, secure ? WINHTTP_FLAG_SECURE : 0));
    if (!request) return false;
    DWORD never = WINHTTP_OPTION_REDIRECT_POLICY_NEVER;
    if (!WinHttpSetOption(request.get(), WINHTTP_OPTION_REDIRECT_POLICY, &never, sizeof never)) return false;
    DWORD http2 = WINHTTP_PROTOCOL_FLAG_HTTP2;
    WinHttpSetOption(request.get(), WINHTTP_OPTION_ENABLE_HTTP_PROTOCOL, &http2, sizeof http2);
    return true;
}

// The status code of the request's reply, whose headers have come.
bool QueryStatus(HINTERNET request, DWORD& status) {
    DWORD size = sizeof status;
    return WinHttpQueryHeaders(request, WINHTTP_QUERY_STATUS_CODE | WINHTTP_QUERY_FLAG_NUMBER,
                               WINHTTP_HEADER_NAME_BY_INDEX, &status, &size, WINHTTP_NO_HEADER_INDEX);
}

// One GET of an http or https URL in a session of its own, blocking: a Reply with
// the body of a 200 reply of at most `maxBytes`, by the deadline; the
// WinHTTP error that ended it otherwise in `failure`.
HttpsReply Exchange(const std::string& url, std::size_t maxBytes, Clock::time_point deadline, const ProxyEntry& via,
                    DWORD& failure) {
    const auto ended = [&] {
        failure = GetLastError();
        return Ended(failure, deadline);
    };
    const bool secure = !Parse(url, INTERNET_SCHEME_HTTP);
    const auto target = Parse(url, secure ? INTERNET_SCHEME_HTTPS : INTERNET_SCHEME_HTTP);
    if (!target) return {};
    Handle session, connection, request;  // closed in the reverse order
    DWORD status = 0;
    if (!OpenSession(session, 0, via) || !OpenRequest(session.get(), *target, L"GET", secure, connection, request)) {
        failure = ERROR_WINHTTP_CANNOT_CONNECT;  // no handle to be had: nothing was asked of the server
        return {};
    }
    if (!Bound(request.get(), deadline) ||
        !WinHttpSendRequest(request.get(), WINHTTP_NO_ADDITIONAL_HEADERS, 0, WINHTTP_NO_REQUEST_DATA, 0, 0, 0) ||
        !Bound(request.get(), deadline) || !WinHttpReceiveResponse(request.get(), nullptr) ||
        !QueryStatus(request.get(), status))
        return ended();
    if (status != 200) return {};
    // The body as it comes: each wait for more bounded by the time left,
    // then only what has come is read. A read of more may wait for all of
    // it (Wine's does), and a peer sending a byte at a time would hold it
    // far past the deadline.
    HttpsReply reply{HttpsEnd::Reply, {}};
    for (;;) {
        DWORD available = 0;
        if (!Bound(request.get(), deadline) || !WinHttpQueryDataAvailable(request.get(), &available))
            return ended();
        if (!available) return reply;  // the whole body
        const std::size_t had = reply.body.size();
        if (available > maxBytes - had) return {};  // too long
        reply.body.resize(had + available);
        DWORD got = 0;
        if (!WinHttpReadData(request.get(), reply.body.data() + had, available, &got)) return ended();
        reply.body.resize(had + got);
    }
}

// The replies of one call's posts, shared by the calling thread and
// WinHTTP's callbacks under one lock. A callback takes it again when a call
// it makes calls back at once, on the same thread.
struct Flight {
    Flight(std::size_t posts, Clock::time_point end) : replies(posts), deadline(end) {}
    std::recursive_mutex mutex;
    std::condition_variable_any changed;
    std::vector<std::optional<HttpsReply>> replies;
    const Clock::time_point deadline;

    // Post i has ended so, unless it had already; under the lock.
    void End(std::size_t i, HttpsReply reply) {
        if (replies[i]) return;
        replies[i] = std::move(reply);
        changed.notify_all();
    }
};

// One post, from its request's sending to its handle's closing: the
// context of WinHTTP's callbacks for its request, freed by the last of
// them (HANDLE_CLOSING). All but `closed` is the callbacks' alone.
struct Post {
    std::shared_ptr<Flight> flight;
    std::size_t index = 0;
    HINTERNET request = nullptr;
    std::wstring headers;
    std::string body;  // WinHTTP reads it as long as the request is open
    std::size_t maxBytes = 0;
    std::string received;     // the reply's body so far
    std::size_t reading = 0;  // where the read under way writes in it
    bool closed = false;      // its handle closed by the caller: nothing more is asked of it
};

// The post's next step on WinHTTP's news of its request (each step asked
// for only once the one before has completed, as WinHTTP's asynchronous
// mode asks), under the lock.
void Step(Post& post, DWORD status, void* info, DWORD length) {
    Flight& flight = *post.flight;
    const auto failed = [&] { flight.End(post.index, Ended(GetLastError(), flight.deadline)); };
    switch (status) {
        case WINHTTP_CALLBACK_STATUS_SENDREQUEST_COMPLETE:
            if (!WinHttpReceiveResponse(post.request, nullptr)) failed();
            return;
        case WINHTTP_CALLBACK_STATUS_HEADERS_AVAILABLE: {
            DWORD code = 0;
            if (!QueryStatus(post.request, code)) return failed();
            if (code != 200) return flight.End(post.index, {});
            break;
        }
        case WINHTTP_CALLBACK_STATUS_DATA_AVAILABLE: {
            const DWORD available = *static_cast<const DWORD*>(info);
            if (!available) return flight.End(post.index, {HttpsEnd::Reply, std::move(post.received)});  // all of it
            if (available > post.maxBytes - post.received.size()) return flight.End(post.index, {});  // too long
            post.reading = post.received.size();
            post.received.resize(post.reading + available);
            if (!WinHttpReadData(post.request, post.received.data() + post.reading, available, nullptr)) failed();
            return;
        }
        case WINHTTP_CALLBACK_STATUS_READ_COMPLETE:
            post.received.resize(post.reading + std::min<std::size_t>(length, post.received.size() - post.reading));
            break;
        case WINHTTP_CALLBACK_STATUS_REQUEST_ERROR:
            return flight.End(post.index,
                              Ended(static_cast<const WINHTTP_ASYNC_RESULT*>(info)->dwError, flight.deadline));
        default:
            return;
    }
    // Only what has come is read: a read of more may wait for all of it,
    // and a peer sending a byte at a time would hold it past the deadline.
    if (!WinHttpQueryDataAvailable(post.request, nullptr)) failed();
}

// WinHTTP's callback, on its own threads (or on the caller's, within a call
// that completes at once).
void CALLBACK Notified(HINTERNET, DWORD_PTR context, DWORD status, LPVOID info, DWORD length) {
    if (!context) return;  // the session's and the connections', which have none
    auto* post = reinterpret_cast<Post*>(context);
    if (status == WINHTTP_CALLBACK_STATUS_HANDLE_CLOSING) {
        delete post;  // the last call for its handle
        return;
    }
    std::lock_guard lock(post->flight->mutex);
    if (post->closed || post->flight->replies[post->index]) return;
    try {
        Step(*post, status, info, length);
    } catch (...) {
        post->flight->End(post->index, {});  // no memory for the body
    }
}

// The posts of one call at once: a session in WinHTTP's asynchronous mode
// for all those through the same proxy (or none), a connection and a
// request each, the calling thread waiting for their ends.
class Posts {
public:
    Posts(std::size_t count, Clock::time_point deadline) : flight_(std::make_shared<Flight>(count, deadline)) {
        sessions_.reserve(count);
        connections_.reserve(count);
        requests_.reserve(count);
    }

    // Every request closed, then the connections, then the session. A
    // callback may still run for a request closed: its post is freed by
    // the HANDLE_CLOSING that follows, not here (the callback stays set to
    // bring it; setting none would not stop one already on its way).
    ~Posts() {
        for (auto& [request, post] : requests_) {
            {
                std::lock_guard lock(flight_->mutex);
                post->closed = true;
            }
            request.reset();
        }
        requests_.clear();
        connections_.clear();
        sessions_.clear();
    }
    Posts(const Posts&) = delete;
    Posts& operator=(const Posts&) = delete;

    void Start(std::size_t i, const HttpsPost& post);

    // Waits until every post has ended or the deadline has passed, serving
    // `serve`, when set, between waits of at most kServeSlice.
    void Wait(const Serve& serve) {
        Flight& flight = *flight_;
        const auto all = [&] {
            return std::all_of(flight.replies.begin(), flight.replies.end(), [](const auto& r) { return r.has_value(); });
        };
        std::unique_lock lock(flight.mutex);
        for (auto now = Clock::now(); !all() && now < flight.deadline; now = Clock::now()) {
            flight.changed.wait_until(lock, serve ? std::min(flight.deadline, now + kServeSlice) : flight.deadline, all);
            if (!serve) continue;
            lock.unlock();
            serve();
            lock.lock();
        }
    }

    // The replies, a post not ended timed out.
    std::vector<HttpsReply> Replies() {
        std::lock_guard lock(flight_->mutex);
        std::vector<HttpsReply> replies;
        for (auto& r : flight_->replies) replies.push_back(r ? std::move(*r) : HttpsReply{HttpsEnd::Timeout, {}});
        return replies;
    }

    // Post i ended without a request sent.
    void End(std::size_t i, HttpsReply reply) {
        std::lock_guard lock(flight_->mutex);
        flight_->End(i, std::move(reply));
    }

private:
    // The session of the posts through `via`, opened for the first of
    // them; nothing, with the reason as the last error, when it cannot be
    // had. The callback set on it before its connections and requests are
    // made is theirs too.
    HINTERNET Session(const ProxyEntry& via) {
        for (const auto& [through, session] : sessions_)
            if (through == via) return session.get();
        constexpr DWORD kNotices = WINHTTP_CALLBACK_FLAG_ALL_COMPLETIONS | WINHTTP_CALLBACK_FLAG_HANDLES;
        Handle session;
        if (!OpenSession(session, WINHTTP_FLAG_ASYNC, via) ||
            WinHttpSetStatusCallback(session.get(), Notified, kNotices, 0) == WINHTTP_INVALID_STATUS_CALLBACK)
            return nullptr;
        sessions_.emplace_back(via, std::move(session));  // room reserved
        return sessions_.back().second.get();
    }

    std::shared_ptr<Flight> flight_;
    std::vector<std::pair<ProxyEntry, Handle>> sessions_;
    std::vector<Handle> connections_;
    std::vector<std::pair<Handle, Post*>> requests_;  // each post WinHTTP's from its request's sending
};

// Sends post i's request with its body, as `application/dns-message` and
// the like ask: its type given and the same asked for back. The rest is
// the callbacks'.
void Posts::Start(std::size_t i, const HttpsPost& post) {
    const Clock::time_point deadline = flight_->deadline;
    const auto failed = [&] { End(i, Ended(GetLastError(), deadline)); };
    const std::wstring type = Widen(post.contentType);
    const std::wstring headers = L"Content-Type: " + type + L"\r\nAccept: " + type;
    const auto target = Parse(post.url, INTERNET_SCHEME_HTTPS);
    if (!target || post.body.size() > MAXDWORD || headers.size() > MAXDWORD || !Reachable(post.via)) return End(i, {});
    const HINTERNET session = Session(post.via);
    if (!session) return failed();
    Handle connection, request;
    if (!OpenRequest(session, *target, L"POST", true, connection, request) || !Bound(request.get(), deadline))
        return failed();
    auto owned = std::make_unique<Post>(Post{flight_, i, request.get(), headers, post.body, post.maxBytes, {}, 0, false});
    auto context = reinterpret_cast<DWORD_PTR>(owned.get());
    if (!WinHttpSetOption(request.get(), WINHTTP_OPTION_CONTEXT_VALUE, &context, sizeof context)) return failed();
    Post& sent = *owned;
    connections_.push_back(std::move(connection));
    requests_.emplace_back(std::move(request), owned.release());  // room reserved: WinHTTP's from here
    const auto size = static_cast<DWORD>(sent.body.size());
    if (!WinHttpSendRequest(sent.request, sent.headers.c_str(), static_cast<DWORD>(sent.headers.size()),
                            sent.body.data(), size, size, context))
        failed();
}

}  // namespace

GetReply WinHttp::Get(const std::string& url, std::size_t maxBytes, std::chrono::steady_clock::time_point deadline,
                      const ProxyEntry& via) {
    if (!Reachable(via)) return {GetEnd::Refused, {}};
    DWORD error = ERROR_SUCCESS;
    HttpsReply reply = Exchange(url, maxBytes, deadline, via, error);
    if (reply.end == HttpsEnd::Reply) return {GetEnd::Reply, std::move(reply.body)};
    if (reply.end == HttpsEnd::Timeout) return {GetEnd::Timeout, {}};
    const bool unreachable = error == ERROR_WINHTTP_NAME_NOT_RESOLVED || error == ERROR_WINHTTP_CANNOT_CONNECT ||
                             error == ERROR_NOT_ENOUGH_MEMORY;
    return {unreachable ? GetEnd::Unreachable : GetEnd::Refused, {}};
}

std::vector<HttpsReply> WinHttp::PostAll(const std::vector<HttpsPost>& posts,
                                         std::chrono::steady_clock::time_point deadline, const Serve& serve) {
    if (posts.empty()) return {};
    try {
        Posts flight(posts.size(), deadline);
        for (std::size_t i = 0; i < posts.size(); ++i) {
            try {
                flight.Start(i, posts[i]);
            } catch (const std::bad_alloc&) {
                flight.End(i, {});  // no memory for it
            }
        }
        flight.Wait(serve);
        return flight.Replies();
    } catch (const std::exception&) {
        // No memory for the call itself: every post failed.
        try {
            return std::vector<HttpsReply>(posts.size());
        } catch (...) {
            return {};
        }
    }
}

}  // namespace tarnwell::platform
