// The OpenSSL probe against TLS servers on 127.0.0.1 with certificates made
// here under a private root, the issuer a server leaves out served over http
// on 127.0.0.1 too; the witnesses' posts against the same servers.
#include "platform/posix/CurlHttp.h"
#include "platform/posix/OpenSslTls.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <openssl/pem.h>
#include <openssl/ssl.h>
#include <openssl/x509v3.h>
#include <poll.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <atomic>
#include <filesystem>
#include <functional>
#include <memory>
#include <thread>

namespace tarnwell::platform {
namespace {

using namespace std::chrono_literals;

struct Issued { std::shared_ptr<EVP_PKEY> key; std::shared_ptr<X509> cert; };

// A certificate for CN `name` with extensions as openssl.cnf writes them,
// signed by `issuer` or by itself, valid from yesterday for `days` days.
Issued Issue(const char* name, const std::vector<std::pair<int, std::string>>& extensions, const Issued* issuer,
             long days = 30) {
    static std::atomic<int> serial = 0;
    Issued made{{EVP_EC_gen("P-256"), EVP_PKEY_free}, {X509_new(), X509_free}};
    X509* x = made.cert.get();
    const Issued& by = issuer ? *issuer : made;
    X509_set_version(x, X509_VERSION_3);
    ASN1_INTEGER_set(X509_get_serialNumber(x), ++serial);
    X509_gmtime_adj(X509_getm_notBefore(x), -86400);
    X509_gmtime_adj(X509_getm_notAfter(x), days * 86400);
    X509_NAME_add_entry_by_txt(X509_get_subject_name(x), "CN", MBSTRING_ASC,
                               reinterpret_cast<const unsigned char*>(name), -1, -1, 0);
    X509_set_issuer_name(x, X509_get_subject_name(by.cert.get()));
    X509_set_pubkey(x, made.key.get());
    X509V3_CTX context;
    X509V3_set_ctx_nodb(&context);
    X509V3_set_ctx(&context, by.cert.get(), x, nullptr, nullptr, 0);
    for (const auto& [nid, value] : extensions) {
        X509_EXTENSION* e = X509V3_EXT_conf_nid(nullptr, &context, nid, value.c_str());
        EXPECT_TRUE(e && X509_add_ext(x, e, -1)) << value;
        X509_EXTENSION_free(e);
    }
    X509_sign(x, by.key.get(), EVP_sha256());
    return made;
}

const std::vector<std::pair<int, std::string>> kCa = {{NID_basic_constraints, "critical,CA:TRUE"},
                                                      {NID_key_usage, "critical,keyCertSign,cRLSign"},
                                                      {NID_subject_key_identifier, "hash"}};
const Issued kRoot = Issue("Tarnwell Test Root", kCa, nullptr);
const Issued kIntermediate = Issue("Tarnwell Test Intermediate", kCa, &kRoot);
const Issued kRogue = Issue("Tarnwell Test Intermediate", kCa, nullptr);  // self-signed, named as the real one

template <class T>
std::string Encoded(const T* object, int (*i2d)(const T*, unsigned char**)) {
    unsigned char* out = nullptr;
    const int n = i2d(object, &out);
    std::string der(reinterpret_cast<char*>(out), std::max(n, 0));
    OPENSSL_free(out);
    return der;
}
std::string Der(const Issued& c) { return Encoded(c.cert.get(), i2d_X509); }
std::string Pkcs7(const Issued& c) {  // certs-only
    const std::unique_ptr<PKCS7, decltype(&PKCS7_free)> p7(PKCS7_new(), PKCS7_free);
    PKCS7_set_type(p7.get(), NID_pkcs7_signed);
    PKCS7_content_new(p7.get(), NID_pkcs7_data);
    PKCS7_add_certificate(p7.get(), c.cert.get());
    return Encoded(p7.get(), i2d_PKCS7);
}

// Reads until the peer closes: a probe that never ends hangs the test.
void Drain(int fd) {
    char buffer[4096];
    pollfd p{fd, POLLIN, 0};
    while (::poll(&p, 1, 60000) > 0 && ::recv(fd, buffer, sizeof buffer, 0) > 0) continue;
}

// A port on 127.0.0.1 whose first `connections` (none: the port refuses;
// fewer: a full queue never accepted, so that connecting hangs) `serve`
// handles, each on a thread of its own.
struct Server {
    explicit Server(std::function<void(int)> serve, int connections = 1) {
        sockaddr_in a{AF_INET, 0, {htonl(INADDR_LOOPBACK)}, {}};
        socklen_t size = sizeof a;
        if (::bind(listener, reinterpret_cast<sockaddr*>(&a), size) != 0 ||
            (connections && ::listen(listener, std::max(connections, 0)) != 0) ||
            ::getsockname(listener, reinterpret_cast<sockaddr*>(&a), &size) != 0)
            throw std::runtime_error("listen");
        port = ntohs(a.sin_port);
        for (int i = 0; connections < 0 && i < 2; ++i)  // the queue of a backlog of 0 filled
            ::connect(fillers.emplace_back(::socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0)),
                      reinterpret_cast<sockaddr*>(&a), size);
        for (int i = 0; i < connections; ++i)
            threads.emplace_back([this, serve] {
                if (const int fd = ::accept4(listener, nullptr, nullptr, SOCK_CLOEXEC); fd >= 0) serve(fd), ::close(fd);
            });
    }
    ~Server() {
        ::shutdown(listener, SHUT_RDWR);  // a server never reached gives up
        threads.clear();
        for (const int fd : fillers) ::close(fd);
        ::close(listener);
    }
    std::string Url(const char* scheme) const { return scheme + ("://127.0.0.1:" + std::to_string(port)) + "/"; }
    const int listener = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    std::uint16_t port = 0;
    std::vector<std::jthread> threads;
    std::vector<int> fillers;
};

// What the caIssuers URL gives: the intermediate (DER or PKCS #7), the root
// (not the issuer), a self-signed certificate, text; an HTTP error (with the
// intermediate as a body all the same), no answer, nobody to ask; or the URL
// is LDAP (with the intermediate there).
enum class Aia { Der, Pkcs7, Root, Rogue, Text, HttpError, Silent, Unreachable, Ldap };

void ServeHttp(int fd, Aia aia) {
    if (aia == Aia::Silent) return Drain(fd);
    std::string request(4096, '\0');
    request.resize(std::max<ssize_t>(::recv(fd, request.data(), request.size(), 0), 0));  // a GET fits
    const std::string body = aia == Aia::Pkcs7 ? Pkcs7(kIntermediate) : aia == Aia::Root ? Der(kRoot)
                             : aia == Aia::Rogue ? Der(kRogue) : aia == Aia::Text ? "not a certificate"
                                                                                  : Der(kIntermediate);
    const std::string reply = (aia == Aia::HttpError ? "HTTP/1.1 404 Not Found" : "HTTP/1.1 200 OK") +
                              ("\r\nContent-Length: " + std::to_string(body.size())) + "\r\n\r\n" + body;
    if (request.starts_with("GET /")) ::send(fd, reply.data(), reply.size(), MSG_NOSIGNAL);
}

// The TLS server: a whole handshake, or one begun 0.5 s late; one that asks
// for a client certificate (and ends the handshake, under TLS 1.2, on the
// empty one it gets); one that resets the connection once its certificate is
// out (TLS 1.2), or stalls then; one that speaks no TLS; one silent; one that
// closes at once; none at all; one never connected.
enum class Peer { Tls, Slow, ClientCert12, ClientCert13, Reset12, Stall12, NotTls, Silent, Closes, None, Full };

void ServeTls(int fd, Peer peer, const Issued& leaf, const Issued* chain) {
    if (peer == Peer::NotTls) ::send(fd, "SSH-2.0-OpenSSH_9.2\r\n", 21, MSG_NOSIGNAL);
    if (peer == Peer::Silent || peer == Peer::NotTls) return Drain(fd);
    if (peer == Peer::Closes) return;
    if (peer == Peer::Slow) std::this_thread::sleep_for(500ms);
    const std::unique_ptr<SSL_CTX, decltype(&SSL_CTX_free)> context(SSL_CTX_new(TLS_server_method()), SSL_CTX_free);
    SSL_CTX_use_certificate(context.get(), leaf.cert.get());
    SSL_CTX_use_PrivateKey(context.get(), leaf.key.get());
    if (chain) SSL_CTX_add1_chain_cert(context.get(), chain->cert.get());
    if (peer == Peer::ClientCert12 || peer == Peer::Reset12 || peer == Peer::Stall12)
        SSL_CTX_set_max_proto_version(context.get(), TLS1_2_VERSION);
    if (peer == Peer::ClientCert12 || peer == Peer::ClientCert13)
        SSL_CTX_set_verify(context.get(), SSL_VERIFY_PEER | SSL_VERIFY_FAIL_IF_NO_PEER_CERT, nullptr);
    // Through memory: what the server writes goes out only once SSL_accept
    // has returned, so that its first flight is known to be out.
    const std::unique_ptr<SSL, decltype(&SSL_free)> ssl(SSL_new(context.get()), SSL_free);
    BIO *in = BIO_new(BIO_s_mem()), *out = BIO_new(BIO_s_mem());
    SSL_set_bio(ssl.get(), in, out);
    char buffer[16384];
    for (bool sent = false;;) {
        const int done = SSL_accept(ssl.get());
        for (int n; (n = BIO_read(out, buffer, sizeof buffer)) > 0; sent = true) ::send(fd, buffer, n, MSG_NOSIGNAL);
        if (done == 1 || SSL_get_error(ssl.get(), done) != SSL_ERROR_WANT_READ) break;
        pollfd p{fd, POLLIN, 0};
        const ssize_t got = ::poll(&p, 1, 10000) > 0 ? ::recv(fd, buffer, sizeof buffer, 0) : 0;
        if (got <= 0) return;
        if (peer == Peer::Stall12 && sent) return Drain(fd);
        if (peer == Peer::Reset12 && sent) {  // the client has answered the certificate: reset
            const linger now{1, 0};
            ::setsockopt(fd, SOL_SOCKET, SO_LINGER, &now, sizeof now);
            return;
        }
        BIO_write(in, buffer, static_cast<int>(got));
    }
    Drain(fd);
}

// The leaf's issuer: the intermediate, sent with it or left out (then with a
// caIssuers URL unless `aia` is unset); itself; the self-signed rogue, left
// out; a CA under the intermediate, sent, whose own issuer is left out.
enum class Signer { Chain, Hidden, Self, Rogue, Deep };

struct Row {
    const char* label;
    const char* name;        // the name probed
    const char* san;         // the leaf's subjectAltName, if any; its CN is always example.test
    long days;               // the leaf's validity from yesterday
    Signer signer;
    Peer peer;
    std::optional<Aia> aia;  // with Signer::Hidden, Rogue or Deep
    Proof expected;
};

// Serves the row's leaf, its issuer at its caIssuers URL, and probes it.
Proof Probe(OpenSslTls& tls, const Row& row) {
    std::vector<std::pair<int, std::string>> extensions = {{NID_authority_key_identifier, "keyid"}}, ca = kCa;
    const Aia aia = row.aia.value_or(Aia::Silent);
    const Server http([aia](int fd) { ServeHttp(fd, aia); }, row.aia && aia != Aia::Unreachable);
    if (row.aia)
        (row.signer == Signer::Deep ? ca : extensions)
            .emplace_back(NID_info_access, "caIssuers;URI:" + http.Url(aia == Aia::Ldap ? "ldap" : "http"));
    if (row.san) extensions.emplace_back(NID_subject_alt_name, row.san);
    const Issued sub = Issue("Tarnwell Test Sub", ca, &kIntermediate);
    const Issued* issuer = row.signer == Signer::Self    ? nullptr
                           : row.signer == Signer::Rogue ? &kRogue
                           : row.signer == Signer::Deep  ? &sub
                                                         : &kIntermediate;
    const Issued leaf = Issue("example.test", extensions, issuer, row.days);
    const Issued* chain = row.signer == Signer::Chain ? &kIntermediate : row.signer == Signer::Deep ? &sub : nullptr;
    Server server([&](int fd) { ServeTls(fd, row.peer, leaf, chain); },
                  row.peer == Peer::None ? 0 : row.peer == Peer::Full ? -1 : 1);
    const auto proofs = tls.ProbeAll({*Address::Parse("127.0.0.1")}, row.name, std::chrono::steady_clock::now() + 3s,
                                     {}, {}, server.port);
    return proofs.size() == 1 ? proofs[0] : Proof{};
}

constexpr auto kName = Failed(ProofReason::Name), kUntrusted = Failed(ProofReason::Untrusted),
               kExpired = Failed(ProofReason::Expired), kAborted = Unknown(ProofReason::Aborted),
               kIncomplete = Failed(ProofReason::Incomplete), kNotHad = Unknown(ProofReason::Incomplete);
constexpr const char *kSan = "DNS:example.test", *kName0 = "example.test";

// The test root as a file of trust anchors, at a path of this process's.
std::filesystem::path Anchors(bool write = true) {
    const auto anchors = std::filesystem::temp_directory_path() / ("tarnwell-tls-" + std::to_string(::getpid()));
    const std::unique_ptr<BIO, decltype(&BIO_free)> file(write ? BIO_new_file(anchors.c_str(), "w") : nullptr, BIO_free);
    EXPECT_TRUE(!write || (file && PEM_write_bio_X509(file.get(), kRoot.cert.get()) && BIO_flush(file.get()) == 1));
    return anchors;
}

// All rows at once on one probe object, each call on a thread of its own as
// the checks of a run call it: the first probes load the trust store together.
TEST(OpenSslTls, JudgesTheCertificateAsBrowsersDo) {
    const Row rows[] = {
        {"SAN DNS name", kName0, kSan, 30, Signer::Chain, Peer::Tls, {}, kProven},
        {"name only in the CN", kName0, nullptr, 30, Signer::Chain, Peer::Tls, {}, kName},
        {"IP SAN only", kName0, "IP:127.0.0.1", 30, Signer::Chain, Peer::Tls, {}, kName},
        {"IP SAN against the same text", "127.0.0.1", "IP:127.0.0.1", 30, Signer::Chain, Peer::Tls, {}, kName},
        {"wildcard", "www.example.test", "DNS:*.example.test", 30, Signer::Chain, Peer::Tls, {}, kProven},
        {"partial wildcard", "www.example.test", "DNS:w*.example.test", 30, Signer::Chain, Peer::Tls, {}, kName},
        {"expired", kName0, kSan, -1, Signer::Chain, Peer::Tls, {}, kExpired},
        {"self-signed", kName0, kSan, 30, Signer::Self, Peer::Tls, {}, kUntrusted},
        {"client certificate asked, TLS 1.2", kName0, kSan, 30, Signer::Chain, Peer::ClientCert12, {}, kAborted},
        {"client certificate asked, TLS 1.3", kName0, kSan, 30, Signer::Chain, Peer::ClientCert13, {}, kProven},
        {"reset after the certificate", kName0, kSan, 30, Signer::Chain, Peer::Reset12, {}, kAborted},
        {"reset after a CN-only certificate", kName0, nullptr, 30, Signer::Chain, Peer::Reset12, {}, kName},
        {"not TLS", kName0, kSan, 30, Signer::Chain, Peer::NotTls, {}, Unknown(ProofReason::NotTls)},
        {"closed at once", kName0, kSan, 30, Signer::Chain, Peer::Closes, {}, Unknown(ProofReason::NotTls)},
        {"silent", kName0, kSan, 30, Signer::Chain, Peer::Silent, {}, Unknown(ProofReason::Timeout)},
        {"nothing listens", kName0, kSan, 30, Signer::Chain, Peer::None, {}, Unknown(ProofReason::Refused)},
        {"never connected", kName0, kSan, 30, Signer::Chain, Peer::Full, {}, Unknown(ProofReason::Timeout)},
        {"stalls after the certificate", kName0, kSan, 30, Signer::Chain, Peer::Stall12, {}, kAborted},
        {"stalls after a CN-only certificate", kName0, nullptr, 30, Signer::Chain, Peer::Stall12, {}, kName},
        {"handshake 0.5 s late", kName0, kSan, 30, Signer::Chain, Peer::Slow, {}, kProven},
        {"issuer left out, no URL", kName0, kSan, 30, Signer::Hidden, Peer::Tls, {}, kIncomplete},
        {"issuer left out, no URL, name wrong", "other.test", kSan, 30, Signer::Hidden, Peer::Tls, {}, kName},
        {"issuer fetched as DER", kName0, kSan, 30, Signer::Hidden, Peer::Tls, Aia::Der, kProven},
        {"issuer fetched as PKCS #7", kName0, kSan, 30, Signer::Hidden, Peer::Tls, Aia::Pkcs7, kProven},
        {"issuer fetched, then reset", kName0, kSan, 30, Signer::Hidden, Peer::Reset12, Aia::Der, kAborted},
        {"issuer fetched, name wrong", "other.test", kSan, 30, Signer::Hidden, Peer::Tls, Aia::Der, kName},
        {"issuer fetched, expired", kName0, kSan, -1, Signer::Hidden, Peer::Tls, Aia::Der, kExpired},
        {"issuer URL silent", kName0, kSan, 30, Signer::Hidden, Peer::Tls, Aia::Silent, kNotHad},
        {"issuer URL silent, expired", kName0, kSan, -1, Signer::Hidden, Peer::Tls, Aia::Silent, kExpired},
        {"issuer URL unreachable", kName0, kSan, 30, Signer::Hidden, Peer::Tls, Aia::Unreachable, kNotHad},
        {"issuer URL answers an HTTP error", kName0, kSan, 30, Signer::Hidden, Peer::Tls, Aia::HttpError, kIncomplete},
        {"issuer URL serves text", kName0, kSan, 30, Signer::Hidden, Peer::Tls, Aia::Text, kIncomplete},
        {"issuer URL serves another CA", kName0, kSan, 30, Signer::Hidden, Peer::Tls, Aia::Root, kIncomplete},
        {"issuer of the sent CA fetched", kName0, kSan, 30, Signer::Deep, Peer::Tls, Aia::Der, kProven},
        {"issuer URL is LDAP", kName0, kSan, 30, Signer::Hidden, Peer::Tls, Aia::Ldap, kIncomplete},
        {"self-signed issuer fetched", kName0, kSan, 30, Signer::Rogue, Peer::Tls, Aia::Rogue, kUntrusted},
    };
    const auto anchors = Anchors();
    OpenSslTls tls(anchors);
    std::vector<std::jthread> probes;
    for (const auto& row : rows)
        probes.emplace_back([&] {
            SCOPED_TRACE(row.label);
            EXPECT_EQ(Probe(tls, row), row.expected);
        });
    probes.clear();
    std::filesystem::remove(anchors);
}

// A trust store that could not be loaded (its file missing, no descriptor
// free) is loaded again at the next probe, not kept empty for the run.
TEST(OpenSslTls, LoadsTheTrustStoreAgainAfterAFailure) {
    OpenSslTls tls(Anchors(false));
    const Row row{"SAN DNS name", kName0, kSan, 30, Signer::Chain, Peer::Tls, {}, kProven};
    EXPECT_NE(Probe(tls, row), kProven);
    EXPECT_EQ(Probe(tls, (Anchors(), row)), kProven);
    std::filesystem::remove(Anchors(false));
}

// A proxy stand-in: it hears the client's request (an HTTP head; a SOCKS5
// greeting, answered 05 00, and request; a SOCKS4a request), over TLS with
// `tls`'s certificate for an HTTPS proxy, answers `reply` (none: silent; in
// two reads when `split`), and then relays the tunnel to `upstream` (0: none).
void ServeProxy(int fd, ProxyScheme scheme, const Issued* tls, const std::string& reply, bool split,
                std::uint16_t upstream, std::string& heard) {
    const std::unique_ptr<SSL_CTX, decltype(&SSL_CTX_free)> context(SSL_CTX_new(TLS_server_method()), SSL_CTX_free);
    const std::unique_ptr<SSL, decltype(&SSL_free)> ssl(tls ? SSL_new(context.get()) : nullptr, SSL_free);
    if (tls && (SSL_use_certificate(ssl.get(), tls->cert.get()), SSL_use_PrivateKey(ssl.get(), tls->key.get()),
                SSL_add1_chain_cert(ssl.get(), kIntermediate.cert.get()), SSL_set_num_tickets(ssl.get(), 0),
                SSL_set_fd(ssl.get(), fd), SSL_accept(ssl.get()) != 1))
        return;
    char b[16384];
    const auto get = [&] { return ssl ? SSL_read(ssl.get(), b, sizeof b) : int(::recv(fd, b, sizeof b, 0)); };
    const auto put = [&](std::string_view s) {
        ssl ? SSL_write(ssl.get(), s.data(), int(s.size())) : ::send(fd, s.data(), s.size(), MSG_NOSIGNAL);
    };
    const auto hear = [&](auto whole) {
        for (int n; !whole(heard.size()); heard.append(b, n))
            if ((n = get()) <= 0) return false;
        return true;
    };
    using enum ProxyScheme;
    const bool asked = scheme == Socks5 ? hear([](auto n) { return n >= 3; }) && (put({"\5\0", 2}), hear([&](auto n) {
                                              return n > 8 && n >= 10u + heard[7];
                                          }))
                       : scheme == Socks4 ? hear([&](auto n) { return n > 9 && !heard.back(); })
                                          : hear([&](auto) { return heard.find("\r\n\r\n") != std::string::npos; });
    if (!asked || reply.empty()) return Drain(fd);
    put(reply.substr(0, split ? 5 : reply.size()));
    if (split) std::this_thread::sleep_for(100ms), put(reply.substr(5));
    const int up = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    const sockaddr_in a{AF_INET, htons(upstream), {htonl(INADDR_LOOPBACK)}, {}};
    if (upstream && ::connect(up, reinterpret_cast<const sockaddr*>(&a), sizeof a) == 0)
        for (pollfd p[2] = {{fd, POLLIN, 0}, {up, POLLIN, 0}}; ::poll(p, 2, 10000) > 0;) {
            if (int n; p[0].revents && ((n = get()) <= 0 || ::send(up, b, n, MSG_NOSIGNAL) != n)) break;
            if (int n; p[1].revents && (n = int(::recv(up, b, sizeof b, 0))) <= 0) break;
            else if (p[1].revents) put({b, std::size_t(n)});
        }
    ::close(up);
}

// ServeProxy on a port of its own, for one connection.
struct Proxy {
    Proxy(ProxyScheme scheme, const std::string& reply, std::uint16_t upstream = 0, const Issued* tls = nullptr,
          bool split = false) {
        server.emplace([=, this](int fd) { ServeProxy(fd, scheme, tls, reply, split, upstream, heard); });
    }
    ProxyEntry Entry(ProxyScheme scheme, const char* host = "127.0.0.1") const { return {scheme, host, server->port}; }
    std::string Heard() { return server.reset(), heard; }  // once its connection has ended
    std::string heard;
    std::optional<Server> server;
};

// What a proxy is asked for a tunnel to `name`, as Chromium asks it.
std::string Asked(ProxyScheme scheme, const std::string& name) {
    if (scheme == ProxyScheme::Socks5) return std::string("\5\1\0\5\1\0\3", 7) + char(name.size()) + name + "\1\xbb";
    if (scheme == ProxyScheme::Socks4) return std::string("\4\1\1\xbb\0\0\0\1\0", 9) + name + '\0';
    return "CONNECT " + name + ":443 HTTP/1.1\r\nHost: " + name +
           ":443\r\nProxy-Connection: keep-alive\r\nUser-Agent: Mozilla/5.0\r\n\r\n";
}

const Issued kProxy = Issue("proxy.test", {{NID_subject_alt_name, "DNS:proxy.test"}}, &kIntermediate);
const std::string kOk = "HTTP/1.1 200 Connection established\r\n\r\n", kGranted("\5\0\0\1\0\0\0\0\0\0", 10);

// The site's server behind a proxy, which makes the tunnel or not: the
// proxy hears what Chromium would send, and the probe ends as a site's
// would, or for the proxy's own reason.
TEST(OpenSslTls, ProvesThroughTheProxy) {
    using enum ProxyScheme;
    const struct {
        const char *label, *host;  // the proxy's host, for its certificate
        ProxyScheme scheme;
        std::string reply;
        bool split;
        const char* name;
        Proof expected;
    } rows[] = {
        {"CONNECT made", "", Http, kOk, false, kName0, kProven},
        {"its reply split", "", Http, kOk, true, kName0, kProven},
        {"2xx other than 200", "", Http, "HTTP/1.0 204 Fine\r\nVia: x\r\n\r\n", false, kName0, kProven},
        {"tunnel to a certificate for another name", "", Http, kOk, false, "other.test", kName},
        {"407", "", Http, "HTTP/1.1 407 Proxy Authentication Required\r\nContent-Length: 4\r\n\r\nnope", false,
         kName0, Unknown(ProofReason::ProxyAuth)},
        {"502", "", Http, "HTTP/1.1 502 Bad Gateway\r\n\r\n", false, kName0, Unknown(ProofReason::Refused)},
        {"not HTTP", "", Http, "SSH-2.0-OpenSSH_9.2\r\n\r\n", false, kName0, Unknown(ProofReason::Refused)},
        {"silent", "", Http, "", false, kName0, Unknown(ProofReason::Timeout)},
        {"closes in its reply", "", Http, "HTTP/1.1 200 Conn", false, kName0, kAborted},
        {"head too long", "", Http, "HTTP/1.1 200 OK\r\n" + std::string(17000, 'x'), false, kName0,
         Unknown(ProofReason::Refused)},
        {"SOCKS5 bound to a name", "", Socks5, std::string("\5\0\0\3\2ab\1\1", 9), false, kName0, kProven},
        {"SOCKS5 granted", "", Socks5, kGranted, true, kName0, kProven},
        {"SOCKS5 refused", "", Socks5, std::string("\5\5\0\1\0\0\0\0\0\0", 10), false, kName0,
         Unknown(ProofReason::Refused)},
        {"SOCKS4a granted", "", Socks4, std::string("\0\x5a\0\0\0\0\0\0", 8), false, kName0, kProven},
        {"HTTPS proxy", "proxy.test", Https, kOk, false, kName0, kProven},
        {"HTTPS proxy, another name", "proxy.test", Https, kOk, false, "other.test", kName},
        {"HTTPS proxy untrusted for its host", "wrong.test", Https, kOk, false, kName0, Unknown(ProofReason::Refused)},
    };
    const Issued leaf = Issue("example.test", {{NID_subject_alt_name, kSan}}, &kIntermediate);
    OpenSslTls tls(Anchors());
    std::vector<std::jthread> probes;
    for (const auto& row : rows)
        probes.emplace_back([&] {
            SCOPED_TRACE(row.label);
            const Server site([&](int fd) { ServeTls(fd, Peer::Tls, leaf, &kIntermediate); });
            Proxy proxy(row.scheme, row.reply, row.expected.result != ProofResult::Unknown ? site.port : 0,
                        row.scheme == Https ? &kProxy : nullptr, row.split);
            const ProbeRoute route{*Address::Parse("127.0.0.1"), proxy.server->port, proxy.Entry(row.scheme, row.host)};
            EXPECT_EQ(tls.ProbeRoutes({route}, row.name, std::chrono::steady_clock::now() + 1500ms, {}, {}),
                      std::vector{row.expected});
            EXPECT_EQ(proxy.Heard(), std::string(row.host) == "wrong.test" ? "" : Asked(row.scheme, row.name));
        });
    probes.clear();
    std::filesystem::remove(Anchors(false));
}

// A missing issuer is fetched by the road given for its URL: here an HTTP
// proxy that serves it, the URL's own host never reached.
TEST(OpenSslTls, FetchesTheIssuerByItsRoad) {
    const Server closed({}, 0);
    const std::string url = closed.Url("http");
    Proxy proxy(ProxyScheme::Http, "HTTP/1.0 200 OK\r\n\r\n" + Der(kIntermediate));  // the body ends as it closes
    const Issued leaf = Issue("example.test", {{NID_subject_alt_name, kSan}, {NID_info_access, "caIssuers;URI:" + url}},
                              &kIntermediate);
    const Server site([&](int fd) { ServeTls(fd, Peer::Tls, leaf, nullptr); });
    OpenSslTls tls(Anchors());
    const RoadFor road = [&](const std::string& u) {
        return proxy.Entry(u == url ? ProxyScheme::Http : ProxyScheme::Direct);
    };
    EXPECT_EQ(tls.ProbeRoutes({{*Address::Parse("127.0.0.1"), site.port}}, kName0,
                              std::chrono::steady_clock::now() + 2s, {}, {}, road),
              std::vector{kProven});
    std::filesystem::remove(Anchors(false));
}

std::size_t Tasks() { return std::distance(std::filesystem::directory_iterator("/proc/self/task"), {}); }

// 32 probes at once in one loop on the calling thread, a quarter of them to a
// silent peer: no thread of their own, each proof heard of once as it ends,
// the caller served between slices, and every probe ended by the deadline.
TEST(OpenSslTls, ProbesManyAtOnceOnTheCallingThread) {
    const Issued leaf = Issue("example.test", {{NID_subject_alt_name, kSan}}, &kIntermediate);
    std::atomic<int> connections = 0;
    Server server([&](int fd) { ServeTls(fd, ++connections % 4 ? Peer::Tls : Peer::Silent, leaf, &kIntermediate); },
                  32);
    OpenSslTls tls(Anchors());
    const std::size_t threads = Tasks();
    std::size_t most = 0, served = 0;
    std::vector<Proof> heard(32);
    std::vector<int> times(32);
    const auto proofs = tls.ProbeAll(
        std::vector(32, *Address::Parse("127.0.0.1")), kName0, std::chrono::steady_clock::now() + 2s,
        [&] { ++served, most = std::max(most, Tasks()); },
        [&](std::size_t i, const Proof& p) { heard[i] = p, ++times[i]; }, server.port);
    EXPECT_EQ(std::count(proofs.begin(), proofs.end(), kProven), 24);
    EXPECT_EQ(std::count(proofs.begin(), proofs.end(), Unknown(ProofReason::Timeout)), 8);
    EXPECT_EQ(heard, proofs);
    EXPECT_EQ(times, std::vector<int>(32, 1));
    EXPECT_GT(served, 1u);
    EXPECT_LE(most, threads);
    std::filesystem::remove(Anchors(false));
}

// With no descriptor free, a probe ends for want of resources, not refused.
TEST(OpenSslTls, NoDescriptorEndsAProbeForWantOfResources) {
    OpenSslTls tls(Anchors(false));
    rlimit saved;
    ASSERT_EQ(::getrlimit(RLIMIT_NOFILE, &saved), 0);
    const int lowest = ::dup(0);  // every one below it is taken
    ::close(lowest);
    const rlimit none{static_cast<rlim_t>(lowest), saved.rlim_max};
    ASSERT_EQ(::setrlimit(RLIMIT_NOFILE, &none), 0);
    const auto proofs = tls.ProbeAll({*Address::Parse("127.0.0.1"), *Address::Parse("::1")}, kName0,
                                     std::chrono::steady_clock::now() + 1s, {}, {});
    ::setrlimit(RLIMIT_NOFILE, &saved);
    EXPECT_EQ(proofs, std::vector(2, Unknown(ProofReason::Resources)));
}

// The witnesses' posts in one call: a server that the system's store does
// not trust, one that never answers, nothing listening, one such server
// through the tunnel of an HTTP proxy, and an HTTPS proxy that the system's
// store does not trust; each as it ended, by
// the one deadline, the caller served meanwhile.
TEST(CurlHttp, PostsAllAtOnce) {
    const Issued leaf = Issue("127.0.0.1", {{NID_subject_alt_name, "IP:127.0.0.1"}}, &kIntermediate);
    const Server untrusted([&](int fd) { ServeTls(fd, Peer::Tls, leaf, &kIntermediate); }),
        silent([&](int fd) { ServeTls(fd, Peer::Silent, leaf, nullptr); }), closed({}, 0),
        untrusted2([&](int fd) { ServeTls(fd, Peer::Tls, leaf, &kIntermediate); }, 2);
    Proxy tunnel(ProxyScheme::Http, kOk, untrusted2.port), secure(ProxyScheme::Https, kOk, untrusted2.port, &kProxy);
    std::vector<HttpsPost> posts;  // through the tunnel to untrusted2 whatever the post's URL
    for (const Server* s : {&untrusted, &silent, &closed, &closed, &closed})
        posts.push_back({s->Url("https"), "application/dns-message", std::string(17, '\0'), 512});
    posts[3].via = tunnel.Entry(ProxyScheme::Http), posts[4].via = secure.Entry(ProxyScheme::Https, "proxy.test");
    CurlHttp http;
    std::size_t served = 0;
    const auto replies = http.PostAll(posts, std::chrono::steady_clock::now() + 1s, [&] { ++served; });
    std::vector<HttpsEnd> ends;
    for (const auto& r : replies) ends.push_back(r.end);
    EXPECT_EQ(ends, (std::vector{HttpsEnd::Untrusted, HttpsEnd::Timeout, HttpsEnd::Failed, HttpsEnd::Untrusted,
                                 HttpsEnd::Failed}));
    EXPECT_GT(served, 1u);
}

// A GET goes through the proxy it is given, by its URL whole to an HTTP
// proxy, by its host to a SOCKS5 one, and straight without one, whatever
// the environment's proxy variables say.
TEST(CurlHttp, GetsThroughTheProxyGiven) {
    const Server closed({}, 0), aia([](int fd) { ServeHttp(fd, Aia::Der); });
    Proxy http(ProxyScheme::Http, "HTTP/1.0 200 OK\r\n\r\nok"), socks(ProxyScheme::Socks5, kGranted, aia.port),
        environment(ProxyScheme::Http, kOk);
    ::setenv("http_proxy", environment.server->Url("http").c_str(), 1), ::setenv("no_proxy", "*", 1);
    CurlHttp curl;
    const auto deadline = std::chrono::steady_clock::now() + 1s;
    const auto whole = curl.Get(closed.Url("http"), 64, deadline, http.Entry(ProxyScheme::Http));
    const auto named = curl.Get(closed.Url("http"), 4096, deadline, socks.Entry(ProxyScheme::Socks5));
    const auto straight = curl.Get(closed.Url("http"), 64, deadline);
    ::unsetenv("http_proxy"), ::unsetenv("no_proxy");
    EXPECT_EQ(std::tie(whole.end, whole.body), std::make_tuple(GetEnd::Reply, std::string("ok")));
    EXPECT_EQ(std::tie(named.end, named.body), std::make_tuple(GetEnd::Reply, Der(kIntermediate)));
    EXPECT_EQ(straight.end, GetEnd::Unreachable);
}

}  // namespace
}  // namespace tarnwell::platform
