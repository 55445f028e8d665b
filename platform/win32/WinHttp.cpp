#include "platform/win32/WinHttp.h"

#include "platform/win32/WinText.h"

#include <windows.h>
#include <winhttp.h>

#include <algorithm>
#include <climits>
#include <memory>
#include <string_view>

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

// One request of `verb` to `url`, which must be of `scheme`, with `headers`
// and `body`, in a session of its own: a Reply with the body of a 200 reply
// of at most `maxBytes`, by the deadline; the WinHTTP error that ended it
// otherwise in `failure`, when given.
HttpsReply Exchange(const std::string& url, INTERNET_SCHEME scheme, const wchar_t* verb, const std::wstring& headers,
                    const std::string& body, std::size_t maxBytes, Clock::time_point deadline,
                    DWORD* failure = nullptr) {
    const auto ended = [&] {
        const DWORD error = GetLastError();
        if (failure) *failure = error;
        return Ended(error, deadline);
    };
    const std::wstring wide = Widen(url);
    URL_COMPONENTS parts{};
    parts.dwStructSize = sizeof parts;
    parts.dwHostNameLength = parts.dwUrlPathLength = parts.dwExtraInfoLength = static_cast<DWORD>(-1);
    if (wide.empty() || wide.size() > MAXDWORD || body.size() > MAXDWORD || headers.size() > MAXDWORD ||
        !WinHttpCrackUrl(wide.c_str(), static_cast<DWORD>(wide.size()), 0, &parts) || parts.nScheme != scheme ||
        !parts.dwHostNameLength || !parts.nPort)
        return {};
    // An IPv6 address keeps its brackets, as WinHttpConnect takes it. The
    // port is the URL's or the scheme's own, never 0: WinHttpConnect would
    // take that for the scheme's.
    const std::wstring host = Component(parts.lpszHostName, parts.dwHostNameLength);
    std::wstring target = Component(parts.lpszUrlPath, parts.dwUrlPathLength);
    const std::wstring extra = Component(parts.lpszExtraInfo, parts.dwExtraInfoLength);
    target += extra.substr(0, extra.find(L'#'));  // the query, never the fragment
    if (target.empty()) target = L"/";

    const Handle session(
        WinHttpOpen(nullptr, WINHTTP_ACCESS_TYPE_NO_PROXY, WINHTTP_NO_PROXY_NAME, WINHTTP_NO_PROXY_BYPASS, 0));
    if (!session) return ended();
    // TLS 1.2 or later: 1.3 too where WinHTTP knows it, and a WinHTTP that
    // does not refuses the option that names it.
    DWORD protocols = WINHTTP_FLAG_SECURE_PROTOCOL_TLS1_2 | WINHTTP_FLAG_SECURE_PROTOCOL_TLS1_3;
    if (!WinHttpSetOption(session.get(), WINHTTP_OPTION_SECURE_PROTOCOLS, &protocols, sizeof protocols)) {
        protocols = WINHTTP_FLAG_SECURE_PROTOCOL_TLS1_2;
        if (!WinHttpSetOption(session.get(), WINHTTP_OPTION_SECURE_PROTOCOLS, &protocols, sizeof protocols))
            return ended();
    }
    const Handle connection(WinHttpConnect(session.get(), host.c_str(), parts.nPort, 0));
    if (!connection) return ended();
    const Handle request(WinHttpOpenRequest(connection.get(), verb, target.c_str(), nullptr, WINHTTP_NO_REFERER,
                                            WINHTTP_DEFAULT_ACCEPT_TYPES,
                                            scheme == INTERNET_SCHEME_HTTPS ? WINHTTP_FLAG_SECURE : 0));
    if (!request) return ended();
    DWORD never = WINHTTP_OPTION_REDIRECT_POLICY_NEVER;
    if (!WinHttpSetOption(request.get(), WINHTTP_OPTION_REDIRECT_POLICY, &never, sizeof never))
        return ended();
    // HTTP/2 where WinHTTP has it (some servers speak nothing older), and
    // HTTP/1.1 where it has not.
    DWORD http2 = WINHTTP_PROTOCOL_FLAG_HTTP2;
    WinHttpSetOption(request.get(), WINHTTP_OPTION_ENABLE_HTTP_PROTOCOL, &http2, sizeof http2);

    if (!Bound(request.get(), deadline) ||
        !WinHttpSendRequest(request.get(), headers.empty() ? WINHTTP_NO_ADDITIONAL_HEADERS : headers.c_str(),
                            static_cast<DWORD>(headers.size()), const_cast<char*>(body.data()),
                            static_cast<DWORD>(body.size()), static_cast<DWORD>(body.size()), 0) ||
        !Bound(request.get(), deadline) || !WinHttpReceiveResponse(request.get(), nullptr))
        return ended();
    DWORD status = 0;
    DWORD size = sizeof status;
    if (!WinHttpQueryHeaders(request.get(), WINHTTP_QUERY_STATUS_CODE | WINHTTP_QUERY_FLAG_NUMBER,
                             WINHTTP_HEADER_NAME_BY_INDEX, &status, &size, WINHTTP_NO_HEADER_INDEX))
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
        if (!WinHttpReadData(request.get(), reply.body.data() + had, available, &got))
            return ended();
        reply.body.resize(had + got);
    }
}

}  // namespace

GetReply WinHttp::Get(const std::string& url, std::size_t maxBytes, std::chrono::steady_clock::time_point deadline) {
    DWORD error = ERROR_SUCCESS;
    HttpsReply reply = Exchange(url, INTERNET_SCHEME_HTTP, L"GET", {}, {}, maxBytes, deadline, &error);
    if (reply.end == HttpsEnd::Reply) return {GetEnd::Reply, std::move(reply.body)};
    if (reply.end == HttpsEnd::Timeout) return {GetEnd::Timeout, {}};
    const bool unreachable = error == ERROR_WINHTTP_NAME_NOT_RESOLVED || error == ERROR_WINHTTP_CANNOT_CONNECT;
    return {unreachable ? GetEnd::Unreachable : GetEnd::Refused, {}};
}

HttpsReply WinHttp::Post(const std::string& url, const std::string& contentType, const std::string& body,
                         std::size_t maxBytes, std::chrono::steady_clock::time_point deadline) {
    const std::wstring type = Widen(contentType);
    return Exchange(url, INTERNET_SCHEME_HTTPS, L"POST", L"Content-Type: " + type + L"\r\nAccept: " + type, body,
                    maxBytes, deadline);
}

std::vector<HttpsReply> WinHttp::PostAll(const std::vector<HttpsPost>& posts, std::chrono::steady_clock::time_point deadline,
                                   const Serve& serve) {
    std::vector<std::function<HttpsReply()>> calls;
    for (const auto& p : posts) calls.push_back([this, p, deadline] { return Post(p.url, p.contentType, p.body, p.maxBytes, deadline); });
    const auto replies = RunAll<HttpsReply>(std::move(calls), deadline, serve, false, HttpsReply{HttpsEnd::Failed, {}});
    std::vector<HttpsReply> out;
    for (const auto& r : replies) out.push_back(r.value_or(HttpsReply{HttpsEnd::Timeout, {}}));
    return out;
}

}  // namespace tarnwell::platform
