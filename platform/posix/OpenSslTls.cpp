#include "platform/posix/OpenSslTls.h"

#include "platform/posix/CurlHttp.h"
#include "platform/posix/PosixSockets.h"

#include <openssl/err.h>
#include <openssl/pkcs7.h>
#include <openssl/ssl.h>
#include <openssl/x509v3.h>

#include <algorithm>
#include <cerrno>
#include <csignal>
#include <filesystem>
#include <functional>
#include <memory>
#include <new>
#include <netinet/in.h>
#include <optional>
#include <poll.h>
#include <strings.h>
#include <sys/socket.h>
#include <unistd.h>

namespace tarnwell::platform {

namespace {

using Clock = std::chrono::steady_clock;

// Only subjectAltName DNS names count, never the subject's common name (RFC
// 9525 has no CN-ID), and a wildcard only as the whole left-most label (RFC
// 9525 section 6.3).
constexpr unsigned kHostFlags = X509_CHECK_FLAG_NEVER_CHECK_SUBJECT | X509_CHECK_FLAG_NO_PARTIAL_WILDCARDS;

// The most a caIssuers URL may give: a certificate or a few, with room.
constexpr std::size_t kMaxIssuerBytes = 64 * 1024;

template <class T, void (*Free)(T*)>
struct Freed {
    void operator()(T* p) const { Free(p); }
};
using OwnedSsl = std::unique_ptr<SSL, Freed<SSL, SSL_free>>;
using OwnedContext = std::unique_ptr<SSL_CTX, Freed<SSL_CTX, SSL_CTX_free>>;
using OwnedStoreContext = std::unique_ptr<X509_STORE_CTX, Freed<X509_STORE_CTX, X509_STORE_CTX_free>>;
using OwnedPkcs7 = std::unique_ptr<PKCS7, Freed<PKCS7, PKCS7_free>>;
using OwnedAccess = std::unique_ptr<AUTHORITY_INFO_ACCESS, Freed<AUTHORITY_INFO_ACCESS, AUTHORITY_INFO_ACCESS_free>>;
// A stack that owns its certificates, and one that only lists them.
void FreeCertificates(STACK_OF(X509)* s) { sk_X509_pop_free(s, X509_free); }
void FreeList(STACK_OF(X509)* s) { sk_X509_free(s); }
using OwnedCertificates = std::unique_ptr<STACK_OF(X509), Freed<STACK_OF(X509), FreeCertificates>>;
using CertificateList = std::unique_ptr<STACK_OF(X509), Freed<STACK_OF(X509), FreeList>>;

// The chain, from the first error its verification met: OpenSSL builds and
// trusts the chain before it checks the name, and checks the dates last.
ChainEnd ChainOf(long verify) {
    switch (verify) {
        case X509_V_OK:
        case X509_V_ERR_HOSTNAME_MISMATCH:
        case X509_V_ERR_CERT_HAS_EXPIRED:
        case X509_V_ERR_CERT_NOT_YET_VALID:
            return ChainEnd::Trusted;
        case X509_V_ERR_UNABLE_TO_GET_ISSUER_CERT_LOCALLY:
        case X509_V_ERR_UNABLE_TO_VERIFY_LEAF_SIGNATURE:
            return ChainEnd::IssuerMissing;
        case X509_V_ERR_DEPTH_ZERO_SELF_SIGNED_CERT:
        case X509_V_ERR_SELF_SIGNED_CERT_IN_CHAIN:
        case X509_V_ERR_UNABLE_TO_GET_ISSUER_CERT:
        case X509_V_ERR_CERT_UNTRUSTED:
            return ChainEnd::Untrusted;
        case X509_V_ERR_CERT_CHAIN_TOO_LONG:
            return ChainEnd::TooDeep;
        default:
            return ChainEnd::Error;
    }
}

// The first http caIssuers URL of the certificate's Authority Information
// Access (RFC 5280 section 4.2.2.1), if any; LDAP and the others are not
// fetched, as browsers do not.
std::optional<std::string> IssuerUrl(X509* certificate) {
    const OwnedAccess access(
        static_cast<AUTHORITY_INFO_ACCESS*>(X509_get_ext_d2i(certificate, NID_info_access, nullptr, nullptr)));
    for (int i = 0; access && i < sk_ACCESS_DESCRIPTION_num(access.get()); ++i) {
        const ACCESS_DESCRIPTION* description = sk_ACCESS_DESCRIPTION_value(access.get(), i);
        if (OBJ_obj2nid(description->method) != NID_ad_ca_issuers || description->location->type != GEN_URI)
            continue;
        const ASN1_IA5STRING* uri = description->location->d.uniformResourceIdentifier;
        const std::string url(reinterpret_cast<const char*>(ASN1_STRING_get0_data(uri)), ASN1_STRING_length(uri));
        const bool printable = std::all_of(url.begin(), url.end(), [](char c) { return c > ' ' && c < 0x7f; });
        if (printable && ::strncasecmp(url.c_str(), "http://", 7) == 0) return url;
    }
    return std::nullopt;
}

// The certificates of a caIssuers body, which RFC 5280 section 4.2.2.1 makes
// one DER certificate or a certs-only PKCS #7; none for anything else.
OwnedCertificates Issuers(const std::string& body) {
    OwnedCertificates issuers(sk_X509_new_null());
    const auto* start = reinterpret_cast<const unsigned char*>(body.data());
    const auto* end = start + body.size();
    const auto* next = start;
    if (X509* one = d2i_X509(nullptr, &next, static_cast<long>(body.size()))) {
        if (next != end || !issuers || !sk_X509_push(issuers.get(), one)) X509_free(one);
        return issuers;
    }
    next = start;
    const OwnedPkcs7 bundle(d2i_PKCS7(nullptr, &next, static_cast<long>(body.size())));
    if (!issuers || !bundle || next != end || !PKCS7_type_is_signed(bundle.get()) || !bundle->d.sign) return issuers;
    STACK_OF(X509)* certificates = bundle->d.sign->cert;
    for (int i = 0; i < sk_X509_num(certificates); ++i) {
        X509* one = sk_X509_value(certificates, i);
        if (X509_up_ref(one) != 1) continue;
        if (!sk_X509_push(issuers.get(), one)) X509_free(one);
    }
    return issuers;
}

// The server's certificate verified again as the handshake verified it (the
// same store, parameters and security level: name and dates included), with
// `fetched` beside the certificates the server sent. They are untrusted
// intermediates only: what a caIssuers URL serves is never a trust anchor.
// The first error it met (X509_V_OK for none), or nothing if it could not be
// made.
std::optional<long> Reverified(SSL* ssl, STACK_OF(X509)* fetched) {
    const CertificateList untrusted(sk_X509_dup(SSL_get_peer_cert_chain(ssl)));
    const OwnedStoreContext context(X509_STORE_CTX_new());
    if (!untrusted || !context) return std::nullopt;
    for (int i = 0; i < sk_X509_num(fetched); ++i)
        if (!sk_X509_push(untrusted.get(), sk_X509_value(fetched, i))) return std::nullopt;
    if (X509_STORE_CTX_init(context.get(), SSL_CTX_get_cert_store(SSL_get_SSL_CTX(ssl)),
                            SSL_get0_peer_certificate(ssl), untrusted.get()) != 1)
        return std::nullopt;
    X509_VERIFY_PARAM* param = X509_STORE_CTX_get0_param(context.get());
    X509_VERIFY_PARAM_set_auth_level(param, SSL_get_security_level(ssl));
    X509_STORE_CTX_set_default(context.get(), "ssl_server");
    X509_VERIFY_PARAM_set1(param, SSL_get0_param(ssl));
    if (X509_verify_cert(context.get()) == 1) return X509_V_OK;
    const int error = X509_STORE_CTX_get_error(context.get());
    return error == X509_V_OK ? std::nullopt : std::optional<long>(error);
}

// Closes a descriptor on every way out.
struct Descriptor {
    explicit Descriptor(int fd = -1) : fd(fd) {}
    Descriptor(const Descriptor&) = delete;
    Descriptor& operator=(const Descriptor&) = delete;
    ~Descriptor() { Close(); }
    void Close() {
        if (fd >= 0) ::close(fd);
        fd = -1;
    }
    int fd;
};

// Why a socket or its connection could not be had: for want of a
// descriptor, a buffer or a local port, or the peer's refusal.
ProofReason Unmade(int error) {
    const bool resources = error == EMFILE || error == ENFILE || error == ENOBUFS || error == ENOMEM ||
                           error == EADDRNOTAVAIL;
    return resources ? ProofReason::Resources : ProofReason::Refused;
}

// The TLS to an HTTPS proxy, and what its socket waits for when a read or a
// write through it has to wait: the site's TLS runs inside it, through a BIO
// whose reads and writes are the proxy TLS's own.
struct Outer {
    OwnedSsl ssl{nullptr};
    short wants = 0;

    // How a read or write through it came out: the bytes moved (> 0), or 0
    // with `wants` set when it must wait, or -1 when it ended.
    int Moved(int done) {
        wants = 0;
        if (done > 0) return done;
        const int error = SSL_get_error(ssl.get(), done);
        wants = error == SSL_ERROR_WANT_READ ? POLLIN : error == SSL_ERROR_WANT_WRITE ? POLLOUT : 0;
        return wants ? 0 : -1;
    }
};

int OuterWrite(BIO* bio, const char* data, int size) {
    auto& outer = *static_cast<Outer*>(BIO_get_data(bio));
    BIO_clear_retry_flags(bio);
    const int moved = outer.Moved(SSL_write(outer.ssl.get(), data, size));
    if (moved == 0) BIO_set_retry_write(bio);
    return moved > 0 ? moved : -1;
}

int OuterRead(BIO* bio, char* data, int size) {
    auto& outer = *static_cast<Outer*>(BIO_get_data(bio));
    BIO_clear_retry_flags(bio);
    const int moved = outer.Moved(SSL_read(outer.ssl.get(), data, size));
    if (moved == 0) BIO_set_retry_read(bio);
    return moved;  // -1: the proxy's TLS ended, which the site's reads as a close
}

long OuterControl(BIO*, int command, long, void*) { return command == BIO_CTRL_FLUSH ? 1 : 0; }

// A BIO over an Outer, made once for the process.
BIO* OverOuter(Outer& outer) {
    static BIO_METHOD* const method = [] {
        BIO_METHOD* m = BIO_meth_new(BIO_get_new_index() | BIO_TYPE_SOURCE_SINK, "tarnwell proxy tunnel");
        if (m && (BIO_meth_set_write(m, OuterWrite) != 1 || BIO_meth_set_read(m, OuterRead) != 1 ||
                  BIO_meth_set_ctrl(m, OuterControl) != 1)) {
            BIO_meth_free(m);
            return static_cast<BIO_METHOD*>(nullptr);
        }
        return m;
    }();
    BIO* bio = method ? BIO_new(method) : nullptr;
    if (bio) BIO_set_data(bio, &outer), BIO_set_init(bio, 1);
    return bio;
}

// One route's probe, a step at a time as its socket becomes ready.
struct Probe {
    // Connect, then for a proxy: TLS to it (HTTPS) and the tunnel asked for;
    // then the site's handshake, the fetch of a missing issuer.
    enum class Stage { Connect, Proxy, Tunnel, Handshake, Fetch, Ended };
    Stage stage = Stage::Connect;
    const ProxyEntry* via = nullptr;
    Descriptor socket;
    Outer outer;  // to an HTTPS proxy; freed after the site's TLS inside it
    OwnedSsl ssl;
    short events = 0;  // what its socket waits for
    std::string out, in;  // of the tunnel's request and reply
    bool next = false;    // the tunnel's second request is out
    CertificateFacts facts;
    long verify = X509_V_OK;  // the first error the chain's verification met
    std::size_t fetch = 0;    // the transfer of its missing issuer
    Proof proof;
    bool heard = false;  // the caller has heard of its end
};

// The probes of one call, in one loop on the calling thread: each one's
// socket polled with the others and with the issuer fetches, by one
// deadline.
class Round {
public:
    Round(const std::string& name, Clock::time_point deadline, std::function<SSL_CTX*()> context, std::size_t count,
          const RoadFor& road)
        : name_(name), deadline_(deadline), context_(std::move(context)), road_(road), transfers_(deadline),
          probes_(count) {
        fds_.reserve(count);
        polled_.reserve(count);
        proofs_.reserve(count);
    }

    std::vector<Proof> Run(const std::vector<ProbeRoute>& routes, const Serve& serve, const ProbeEnded& ended) {
        for (std::size_t i = 0; i < probes_.size(); ++i)
            Guarded(probes_[i], [&] {
                probes_[i].via = &routes[i].via;
                Start(probes_[i], routes[i].address, routes[i].port);
            });
        for (;;) {
            if (Heard(ended)) break;
            const auto left = std::chrono::ceil<std::chrono::milliseconds>(deadline_ - Clock::now());
            if (left.count() <= 0) {
                Expire();
                Heard(ended);
                break;
            }
            Wait(serve ? std::min<std::chrono::milliseconds>(left, kServeSlice) : left);
            if (serve) serve();
        }
        ERR_clear_error();  // this thread's queue: nothing of these probes is left for the next
        for (const auto& p : probes_) proofs_.push_back(p.proof);
        return std::move(proofs_);
    }

private:
    // A step that cannot have the memory it needs ends its probe.
    template <class Step>
    void Guarded(Probe& p, Step step) {
        try {
            step();
        } catch (const std::bad_alloc&) {
            End(p, Unknown(ProofReason::Resources));
        }
    }

    void End(Probe& p, const Proof& proof) {
        p.proof = proof;
        p.stage = Probe::Stage::Ended;
        p.events = 0;
        p.socket.Close();
        p.ssl.reset();  // before the proxy's TLS it runs in
        p.outer.ssl.reset();
    }

    // The TCP connection begun.
    void Start(Probe& p, const Address& address, std::uint16_t port) {
        sockaddr_storage to;
        const unsigned length = ToSockaddr(address, port, to);
        if (!length) return End(p, Unknown(ProofReason::Refused));
        p.socket.fd = ::socket(to.ss_family, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
        if (p.socket.fd < 0) return End(p, Unknown(Unmade(errno)));
        if (::connect(p.socket.fd, reinterpret_cast<const sockaddr*>(&to), length) == 0) return Connected(p);
        if (errno != EINPROGRESS) return End(p, Unknown(Unmade(errno)));
        p.events = POLLOUT;
    }

    // Connected: to the site, to a proxy to ask for a tunnel, or to an
    // HTTPS proxy to make TLS with first.
    void Connected(Probe& p) {
        int error = 0;
        socklen_t size = sizeof error;
        if (::getsockopt(p.socket.fd, SOL_SOCKET, SO_ERROR, &error, &size) != 0) error = EIO;
        if (error != 0) return End(p, Unknown(ProofReason::Refused));
        if (p.via->scheme == ProxyScheme::Direct) return Begin(p);
        if (p.via->scheme == ProxyScheme::Https) {
            p.outer.ssl.reset(Client(p, p.via->host, false));
            if (!p.outer.ssl) return;
            if (SSL_set_fd(p.outer.ssl.get(), p.socket.fd) != 1) return End(p, Proof{});
            SSL_set_mode(p.outer.ssl.get(), SSL_MODE_ACCEPT_MOVING_WRITE_BUFFER);
            p.stage = Probe::Stage::Proxy;
            return ProxyHandshake(p);
        }
        Ask(p);
    }

    // A TLS client for `host`, its SNI and the name to verify (an IP
    // address, which only an HTTPS proxy's host may be, by its iPAddress
    // entries and without SNI); nothing, the probe ended, if it cannot be
    // had. A site's name always goes as a DNS name, even one that reads as
    // an IP address (SSL_set1_host would take that as one); an empty name
    // would turn the check off.
    SSL* Client(Probe& p, const std::string& host, bool site) {
        if (!asked_) made_.reset(context_());
        asked_ = true;
        if (!made_) return End(p, Proof{}), nullptr;  // unknown, internal: no trust store
        OwnedSsl ssl(SSL_new(made_.get()));
        if (!ssl) return End(p, Unknown(ProofReason::Resources)), nullptr;
        X509_VERIFY_PARAM* param = SSL_get0_param(ssl.get());
        const bool literal = !site && Address::Parse(host).has_value();
        const bool set = literal ? X509_VERIFY_PARAM_set1_ip_asc(param, host.c_str()) == 1
                                 : !host.empty() && SSL_set_tlsext_host_name(ssl.get(), host.c_str()) == 1 &&
                                       X509_VERIFY_PARAM_set1_host(param, host.data(), host.size()) == 1;
        if (!set) return End(p, Proof{}), nullptr;
        X509_VERIFY_PARAM_set_hostflags(param, kHostFlags);
        return ssl.release();
    }

    // The proxy's TLS, whose certificate must verify for its host whole:
    // a proxy that cannot be trusted proves nothing either way.
    void ProxyHandshake(Probe& p) {
        ERR_clear_error();
        if (p.outer.Moved(SSL_connect(p.outer.ssl.get())) == 0) {
            p.events = p.outer.wants;
            return;
        }
        if (!SSL_is_init_finished(p.outer.ssl.get()) || SSL_get_verify_result(p.outer.ssl.get()) != X509_V_OK)
            return End(p, Unknown(ProofReason::Refused));
        Ask(p);
    }

    // The tunnel asked for.
    void Ask(Probe& p) {
        p.out = TunnelRequest(p.via->scheme, name_, false);
        if (p.out.empty()) return End(p, Unknown(ProofReason::Refused));
        p.stage = Probe::Stage::Tunnel;
        Tunnel(p);
    }

    // Bytes of the tunnel's exchange moved through the socket or the proxy's
    // TLS: > 0 moved, 0 to wait (events set), -1 the connection ended.
    int Exchange(Probe& p, bool send, char* data, std::size_t size) {
        if (p.outer.ssl) {
            ERR_clear_error();
            const int n = static_cast<int>(std::min<std::size_t>(size, 1 << 30));
            SSL* ssl = p.outer.ssl.get();
            const int moved = p.outer.Moved(send ? SSL_write(ssl, data, n) : SSL_read(ssl, data, n));
            p.events = p.outer.wants;
            return moved;
        }
        const ssize_t moved = send ? ::send(p.socket.fd, data, size, MSG_NOSIGNAL) : ::recv(p.socket.fd, data, size, 0);
        if (moved > 0) return static_cast<int>(moved);
        p.events = send ? POLLOUT : POLLIN;
        return moved < 0 && (errno == EAGAIN || errno == EWOULDBLOCK || errno == EINTR) ? 0 : -1;
    }

    // The request sent, the reply read as far as it has come; once it says
    // the tunnel is made, the site's TLS through it.
    void Tunnel(Probe& p) {
        char buffer[4096];
        for (;;) {
            if (!p.out.empty()) {
                const int sent = Exchange(p, true, p.out.data(), p.out.size());
                if (sent < 0) return End(p, Unknown(ProofReason::Aborted));
                if (sent == 0) return;
                p.out.erase(0, static_cast<std::size_t>(sent));
                continue;
            }
            const int got = Exchange(p, false, buffer, sizeof buffer);
            if (got < 0) return End(p, Unknown(ProofReason::Aborted));  // closed before its reply was whole
            if (got == 0) return;
            p.in.append(buffer, static_cast<std::size_t>(got));
            // Bytes past the proxy's reply would be the site's before it has
            // heard from us: the tunnel is broken.
            const auto reply = ReadTunnelReply(p.via->scheme, p.in, p.next);
            switch (reply.step) {
                case TunnelReply::Step::More: continue;
                case TunnelReply::Step::Next:
                    if (p.in.size() > reply.length) return End(p, Unknown(ProofReason::Aborted));
                    p.in.clear();
                    p.next = true;
                    p.out = TunnelRequest(p.via->scheme, name_, true);
                    continue;
                case TunnelReply::Step::Made:
                    if (p.in.size() > reply.length) return End(p, Unknown(ProofReason::Aborted));
                    return Begin(p);
                case TunnelReply::Step::ProxyAuth: return End(p, Unknown(ProofReason::ProxyAuth));
                case TunnelReply::Step::Refused: return End(p, Unknown(ProofReason::Refused));
            }
        }
    }

    // The site's TLS over the connection, or inside the proxy's.
    void Begin(Probe& p) {
        p.ssl.reset(Client(p, name_, true));
        if (!p.ssl) return;
        BIO* bio = p.outer.ssl ? OverOuter(p.outer) : nullptr;
        if (p.outer.ssl && !bio) return End(p, Unknown(ProofReason::Resources));
        if (bio) SSL_set_bio(p.ssl.get(), bio, bio);
        else if (SSL_set_fd(p.ssl.get(), p.socket.fd) != 1) return End(p, Proof{});
        p.stage = Probe::Stage::Handshake;
        Handshake(p);
    }

    void Handshake(Probe& p) {
        ERR_clear_error();  // SSL_get_error reads this thread's queue, which every probe here shares
        const int done = SSL_connect(p.ssl.get());
        if (done == 1) return Handshaken(p, HandshakeEnd::Complete);
        const int error = SSL_get_error(p.ssl.get(), done);
        const bool waits = error == SSL_ERROR_WANT_READ || error == SSL_ERROR_WANT_WRITE;
        // Inside a proxy's TLS the socket waits for what that TLS wants.
        p.events = !waits ? 0 : p.outer.ssl ? p.outer.wants : error == SSL_ERROR_WANT_READ ? POLLIN : POLLOUT;
        if (!p.events) Handshaken(p, HandshakeEnd::Ended);  // an alert, a reset, a close, or no TLS at all
    }

    // What the certificate the server sent shows: the first error its
    // chain's verification met when it arrived, and the leaf's own name and
    // dates, which that verification does not reach when the chain fails
    // first. An issuer the chain lacks is fetched once, by the deadline.
    void Handshaken(Probe& p, HandshakeEnd end) {
        p.facts.handshake = end;
        p.events = 0;
        p.socket.Close();  // no request is sent
        X509* leaf = SSL_get0_peer_certificate(p.ssl.get());
        if (!leaf) return End(p, Judge(p.facts));
        p.verify = SSL_get_verify_result(p.ssl.get());
        if (p.verify == X509_V_ERR_OUT_OF_MEM) throw std::bad_alloc();  // nothing was learnt of the chain
        p.facts.certificate = true;
        p.facts.named = X509_check_host(leaf, name_.data(), name_.size(), kHostFlags, nullptr) == 1;
        p.facts.chain = ChainOf(p.verify);
        if (p.facts.chain != ChainEnd::IssuerMissing) return Dated(p);
        // The issuer missing is that of the last certificate of the chain as
        // far as it was built.
        STACK_OF(X509)* built = SSL_get0_verified_chain(p.ssl.get());
        X509* lacking = sk_X509_num(built) > 0 ? sk_X509_value(built, sk_X509_num(built) - 1) : leaf;
        const auto url = IssuerUrl(lacking);
        if (!url) {
            p.facts.fetch = IssuerFetch::NoUrl;
            return Dated(p);
        }
        p.fetch = transfers_.Get(*url, kMaxIssuerBytes, road_ ? road_(*url) : ProxyEntry{});
        p.stage = Probe::Stage::Fetch;
    }

    // The chain verified again with what the caIssuers URL gave.
    void Fetched(Probe& p, const GetReply& got) {
        const OwnedCertificates issuers = got.end == GetEnd::Reply ? Issuers(got.body) : nullptr;
        p.facts.fetch = FetchEnded(got.end, sk_X509_num(issuers.get()) > 0);
        if (p.facts.fetch == IssuerFetch::Fetched) {
            const auto again = Reverified(p.ssl.get(), issuers.get());
            if (!again) return End(p, Proof{});  // unknown, internal
            if (*again == X509_V_ERR_OUT_OF_MEM) throw std::bad_alloc();
            p.facts.chain = ChainOf(p.verify = *again);
        }
        Dated(p);
    }

    void Dated(Probe& p) {
        X509* leaf = SSL_get0_peer_certificate(p.ssl.get());
        p.facts.dated = X509_cmp_current_time(X509_get0_notBefore(leaf)) <= 0 &&
                        X509_cmp_current_time(X509_get0_notAfter(leaf)) >= 0 &&
                        p.verify != X509_V_ERR_CERT_HAS_EXPIRED && p.verify != X509_V_ERR_CERT_NOT_YET_VALID;
        End(p, Judge(p.facts));
    }

    // Waits for the sockets and the transfers, and moves on each probe whose
    // socket is ready.
    void Wait(std::chrono::milliseconds wait) {
        fds_.clear();
        polled_.clear();
        for (std::size_t i = 0; i < probes_.size(); ++i) {
            if (!probes_[i].events) continue;
            fds_.push_back({probes_[i].socket.fd, probes_[i].events, 0});
            polled_.push_back(i);
        }
        transfers_.Wait(fds_, wait);
        for (std::size_t k = 0; k < fds_.size(); ++k) {
            if (!fds_[k].revents) continue;
            Probe& p = probes_[polled_[k]];
            Guarded(p, [&] {
                switch (p.stage) {
                    case Probe::Stage::Connect: return Connected(p);
                    case Probe::Stage::Proxy: return ProxyHandshake(p);
                    case Probe::Stage::Tunnel: return Tunnel(p);
                    default: return Handshake(p);
                }
            });
        }
    }

    // At the deadline: a connection still to be made timed out, and so did a
    // handshake still running, whose certificate, if it came, is judged.
    void Expire() {
        for (auto& p : probes_) {
            if (p.stage == Probe::Stage::Connect || p.stage == Probe::Stage::Proxy || p.stage == Probe::Stage::Tunnel)
                End(p, Unknown(ProofReason::Timeout));
            if (p.stage == Probe::Stage::Handshake) Guarded(p, [&] { Handshaken(p, HandshakeEnd::TimedOut); });
        }
        transfers_.Expire();
    }

    // Judges the probes whose fetches have ended, and tells the caller of
    // each probe that has ended since; whether all have.
    bool Heard(const ProbeEnded& ended) {
        bool all = true;
        for (std::size_t i = 0; i < probes_.size(); ++i) {
            Probe& p = probes_[i];
            if (p.stage == Probe::Stage::Fetch)
                Guarded(p, [&] {
                    if (const auto got = transfers_.GetEnded(p.fetch)) Fetched(p, *got);
                });
            all = all && p.stage == Probe::Stage::Ended;
            if (p.stage != Probe::Stage::Ended || p.heard) continue;
            p.heard = true;
            if (ended) ended(i, p.proof);
        }
        return all;
    }

    const std::string& name_;
    const Clock::time_point deadline_;
    const std::function<SSL_CTX*()> context_;
    const RoadFor& road_;
    OwnedContext made_{nullptr};
    bool asked_ = false;  // for the context
    Transfers transfers_;
    std::vector<Probe> probes_;
    std::vector<pollfd> fds_;
    std::vector<std::size_t> polled_;  // the probe of each of fds_
    std::vector<Proof> proofs_;
};

}  // namespace

OpenSslTls::OpenSslTls(std::string anchors) : anchors_(std::move(anchors)) {
    // A peer that closes mid-handshake must not end the program: OpenSSL
    // writes to the socket with write(2).
    std::signal(SIGPIPE, SIG_IGN);
}

SSL_CTX* OpenSslTls::Context() {
    std::lock_guard lock(mutex_);
    if (!stocked_) {
        if (SSL_CTX* made = Made()) {
            SSL_CTX_free(context_);
            context_ = made;
            stocked_ = sk_X509_OBJECT_num(X509_STORE_get0_objects(SSL_CTX_get_cert_store(made))) > 0;
        }
    }
    return context_ && SSL_CTX_up_ref(context_) == 1 ? context_ : nullptr;
}

SSL_CTX* OpenSslTls::Made() const {
    SSL_CTX* context = SSL_CTX_new(TLS_client_method());
    if (!context) return nullptr;
    std::error_code error;
    const bool directory = std::filesystem::is_directory(anchors_, error);
    const char* file = directory ? nullptr : anchors_.c_str();
    const char* path = directory ? anchors_.c_str() : nullptr;
    const bool trusted = anchors_.empty() ? SSL_CTX_set_default_verify_paths(context) == 1
                                          : SSL_CTX_load_verify_locations(context, file, path) == 1;
    if (!trusted || SSL_CTX_set_min_proto_version(context, TLS1_2_VERSION) != 1) {
        SSL_CTX_free(context);
        ERR_clear_error();
        return nullptr;
    }
    // At most 8 intermediate CAs between the site and the root, as
    // mozilla::pkix allows: a longer chain proves nothing.
    SSL_CTX_set_verify_depth(context, 8);
    // The handshake goes on whatever the chain's verification finds:
    // OpenSSL verifies the chain as soon as the server's certificate
    // arrives and keeps the certificate and the first error it met, which
    // the probe reads whether the handshake then completes or not.
    SSL_CTX_set_verify(context, SSL_VERIFY_NONE, nullptr);
    return context;
}

OpenSslTls::~OpenSslTls() { SSL_CTX_free(context_); }

std::vector<Proof> OpenSslTls::ProbeRoutes(const std::vector<ProbeRoute>& routes, const std::string& name,
                                           Clock::time_point deadline, const Serve& serve, const ProbeEnded& ended,
                                           const RoadFor& road) {
    std::optional<Round> round;
    try {
        round.emplace(name, deadline, [this] { return Context(); }, routes.size(), road);
    } catch (const std::bad_alloc&) {  // not even the loop's own could be had: no probe can be made
        for (std::size_t i = 0; ended && i < routes.size(); ++i) ended(i, Unknown(ProofReason::Resources));
        try {
            return std::vector<Proof>(routes.size(), Unknown(ProofReason::Resources));
        } catch (const std::bad_alloc&) {
            return {};
        }
    }
    return round->Run(routes, serve, ended);
}

}  // namespace tarnwell::platform
