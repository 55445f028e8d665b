#include "platform/posix/OpenSslTls.h"

#include "platform/posix/PosixSockets.h"

#include <openssl/err.h>
#include <openssl/pkcs7.h>
#include <openssl/ssl.h>
#include <openssl/x509v3.h>

#include <algorithm>
#include <cerrno>
#include <csignal>
#include <filesystem>
#include <memory>
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

// Waits for the descriptor to be ready for `events` until the deadline:
// whether it is.
bool WaitFor(int fd, short events, Clock::time_point deadline) {
    for (;;) {
        const auto left = std::chrono::ceil<std::chrono::milliseconds>(deadline - Clock::now());
        if (left.count() <= 0) return false;
        pollfd p{fd, events, 0};
        const int ready = ::poll(&p, 1, static_cast<int>(left.count()));
        if (ready > 0) return true;
        if (ready < 0 && errno != EINTR) return false;
    }
}

// Closes a descriptor on every way out.
struct Descriptor {
    int fd;
    ~Descriptor() {
        if (fd >= 0) ::close(fd);
    }
};

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

// A TCP connection to the peer by the deadline, or the reason there is none.
bool Connected(Descriptor& socket, const Address& address, std::uint16_t port, Clock::time_point deadline,
               Proof& failure) {
    sockaddr_storage to;
    const unsigned length = ToSockaddr(address, port, to);
    failure = Unknown(ProofReason::Refused);
    if (!length) return false;
    socket.fd = ::socket(to.ss_family, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
    if (socket.fd < 0) return false;
    if (::connect(socket.fd, reinterpret_cast<const sockaddr*>(&to), length) == 0) return true;
    int error = errno;
    if (error == EINPROGRESS) {
        if (!WaitFor(socket.fd, POLLOUT, deadline)) {
            failure = Unknown(ProofReason::Timeout);
            return false;
        }
        socklen_t size = sizeof error;
        if (::getsockopt(socket.fd, SOL_SOCKET, SO_ERROR, &error, &size) != 0) error = EIO;
    }
    return error == 0;
}

HandshakeEnd Handshaken(SSL* ssl, int fd, Clock::time_point deadline) {
    for (;;) {
        const int done = SSL_connect(ssl);
        if (done == 1) return HandshakeEnd::Complete;
        const int error = SSL_get_error(ssl, done);
        const short events = error == SSL_ERROR_WANT_READ ? POLLIN : error == SSL_ERROR_WANT_WRITE ? POLLOUT : 0;
        if (!events) return HandshakeEnd::Ended;  // an alert, a reset, a close, or no TLS at all
        if (!WaitFor(fd, events, deadline)) return HandshakeEnd::TimedOut;
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

// What the certificate the server sent shows: the first error its chain's
// verification met when it arrived, and the leaf's own name and dates,
// which that verification does not reach when the chain fails first. An
// issuer the chain lacks is fetched once, by the deadline. False if the
// probe itself failed.
bool Gathered(SSL* ssl, const std::string& name, Clock::time_point deadline, Http& http, CertificateFacts& facts) {
    X509* leaf = SSL_get0_peer_certificate(ssl);
    long verify = SSL_get_verify_result(ssl);
    facts.certificate = true;
    facts.named = X509_check_host(leaf, name.data(), name.size(), kHostFlags, nullptr) == 1;
    facts.chain = ChainOf(verify);
    if (facts.chain == ChainEnd::IssuerMissing) {
        // The issuer missing is that of the last certificate of the chain as
        // far as it was built.
        STACK_OF(X509)* built = SSL_get0_verified_chain(ssl);
        X509* lacking = sk_X509_num(built) > 0 ? sk_X509_value(built, sk_X509_num(built) - 1) : leaf;
        const auto url = IssuerUrl(lacking);
        const GetReply got = url ? http.Get(*url, kMaxIssuerBytes, deadline) : GetReply{};
        const OwnedCertificates issuers = got.end == GetEnd::Reply ? Issuers(got.body) : nullptr;
        facts.fetch = url ? FetchEnded(got.end, sk_X509_num(issuers.get()) > 0) : IssuerFetch::NoUrl;
        if (facts.fetch == IssuerFetch::Fetched) {
            const auto again = Reverified(ssl, issuers.get());
            if (!again) return false;
            facts.chain = ChainOf(verify = *again);
        }
    }
    facts.dated = X509_cmp_current_time(X509_get0_notBefore(leaf)) <= 0 &&
                  X509_cmp_current_time(X509_get0_notAfter(leaf)) >= 0 && verify != X509_V_ERR_CERT_HAS_EXPIRED &&
                  verify != X509_V_ERR_CERT_NOT_YET_VALID;
    return true;
}

}  // namespace

OpenSslTls::OpenSslTls(Http& http, std::string anchors) : http_(http), anchors_(std::move(anchors)) {
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

std::vector<Proof> OpenSslTls::ProbeAll(const std::vector<Address>& addresses, const std::string& name,
                                        Clock::time_point deadline, const Serve& serve, const ProbeEnded& ended,
                                        std::uint16_t port) {
    return ProbeOnThreads([=, this](const Address& a) { return Probe(a, name, deadline, port); }, true, addresses,
                          deadline, serve, ended);
}

Proof OpenSslTls::Probe(const Address& address, const std::string& name, Clock::time_point deadline,
                        std::uint16_t port) {
    Proof failure;
    Descriptor socket{-1};
    if (!Connected(socket, address, port, deadline, failure)) return failure;
    Proof proof = Unknown(ProofReason::Internal);
    const OwnedContext context(Context());
    const OwnedSsl owned(context ? SSL_new(context.get()) : nullptr);
    SSL* ssl = owned.get();
    // The name is always checked as a DNS name, even one that reads as an IP
    // address (SSL_set1_host would take that as one); an empty name would
    // turn the check off.
    X509_VERIFY_PARAM* param = ssl ? SSL_get0_param(ssl) : nullptr;
    if (param && !name.empty() && SSL_set_fd(ssl, socket.fd) == 1 && SSL_set_tlsext_host_name(ssl, name.c_str()) == 1 &&
        X509_VERIFY_PARAM_set1_host(param, name.data(), name.size()) == 1) {
        X509_VERIFY_PARAM_set_hostflags(param, kHostFlags);
        CertificateFacts facts{Handshaken(ssl, socket.fd, deadline)};
        if (!SSL_get0_peer_certificate(ssl) || Gathered(ssl, name, deadline, http_, facts)) proof = Judge(facts);
    }
    ERR_clear_error();  // this thread's queue: nothing of this probe is left for the next
    return proof;
}

}  // namespace tarnwell::platform
