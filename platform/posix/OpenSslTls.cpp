#include "platform/posix/OpenSslTls.h"

#include "platform/posix/PosixSockets.h"

#include <openssl/err.h>
#include <openssl/ssl.h>
#include <openssl/x509v3.h>

#include <algorithm>
#include <cerrno>
#include <memory>
#include <csignal>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

namespace tarnwell::platform {

namespace {

using Clock = std::chrono::steady_clock;


// Waits for the descriptor to be ready for `events` until the deadline:
// whether it is. With `serve`, in slices with a serving between them.
bool WaitFor(int fd, short events, Clock::time_point deadline, const Serve& serve) {
    for (;;) {
        const auto left = std::chrono::ceil<std::chrono::milliseconds>(deadline - Clock::now());
        if (left.count() <= 0) return false;
        const auto slice = serve ? std::min(left, kServeSlice) : left;
        pollfd p{fd, events, 0};
        const int ready = ::poll(&p, 1, static_cast<int>(slice.count()));
        if (ready > 0) return true;
        if (ready < 0 && errno != EINTR) return false;
        if (serve) serve();
    }
}

// Closes a descriptor on every way out, a serving that throws included.
struct Descriptor {
    int fd;
    ~Descriptor() {
        if (fd >= 0) ::close(fd);
    }
};

// The certificate's fault, from the first error the chain's verification met
// (OpenSSL builds and trusts the chain before it checks the name, and checks
// the dates last).
Proof Judged(long verify) {
    switch (verify) {
        case X509_V_OK:
            return kProven;
        case X509_V_ERR_HOSTNAME_MISMATCH:
            return Failed(ProofReason::Name);
        case X509_V_ERR_CERT_HAS_EXPIRED:
        case X509_V_ERR_CERT_NOT_YET_VALID:
            return Failed(ProofReason::Expired);
        case X509_V_ERR_DEPTH_ZERO_SELF_SIGNED_CERT:
        case X509_V_ERR_SELF_SIGNED_CERT_IN_CHAIN:
        case X509_V_ERR_UNABLE_TO_GET_ISSUER_CERT:
        case X509_V_ERR_UNABLE_TO_GET_ISSUER_CERT_LOCALLY:
        case X509_V_ERR_UNABLE_TO_VERIFY_LEAF_SIGNATURE:
        case X509_V_ERR_CERT_UNTRUSTED:
            return Failed(ProofReason::Untrusted);
        default:
            return Failed(ProofReason::Error);
    }
}

// A TCP connection to the peer by the deadline, or the reason there is none.
bool Connected(Descriptor& socket, const Address& address, std::uint16_t port, Clock::time_point deadline,
               const Serve& serve, Proof& failure) {
    sockaddr_storage to;
    const unsigned length = ToSockaddr(address, port, to);
    failure = Unknown(ProofReason::Refused);
    if (!length) return false;
    socket.fd = ::socket(to.ss_family, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
    if (socket.fd < 0) return false;
    if (::connect(socket.fd, reinterpret_cast<const sockaddr*>(&to), length) == 0) return true;
    int error = errno;
    if (error == EINPROGRESS) {
        if (!WaitFor(socket.fd, POLLOUT, deadline, serve)) {
            failure = Unknown(ProofReason::Timeout);
            return false;
        }
        socklen_t size = sizeof error;
        if (::getsockopt(socket.fd, SOL_SOCKET, SO_ERROR, &error, &size) != 0) error = EIO;
    }
    return error == 0;
}

}  // namespace

OpenSslTls::OpenSslTls() {
    // A peer that closes mid-handshake must not end the program: OpenSSL
    // writes to the socket with write(2).
    std::signal(SIGPIPE, SIG_IGN);
}

SSL_CTX* OpenSslTls::Context() {
    std::call_once(made_, [this] {
        context_ = SSL_CTX_new(TLS_client_method());
        if (!context_) return;
        SSL_CTX_set_min_proto_version(context_, TLS1_2_VERSION);
        SSL_CTX_set_default_verify_paths(context_);
        // At most 8 intermediate CAs between the site and the root, as
        // mozilla::pkix allows: a longer chain proves nothing.
        SSL_CTX_set_verify_depth(context_, 8);
        // The handshake goes on whatever the chain's verification finds; its
        // result is read after it.
        SSL_CTX_set_verify(context_, SSL_VERIFY_NONE, nullptr);
    });
    return context_;
}

OpenSslTls::~OpenSslTls() { SSL_CTX_free(context_); }

Proof OpenSslTls::Probe(const Address& address, const std::string& name, Clock::time_point deadline,
                        std::uint16_t port) {
    Proof failure;
    Descriptor socket{-1};
    if (!Connected(socket, address, port, deadline, serve_, failure)) return failure;
    Proof proof = Unknown(ProofReason::NotTls);
    SSL_CTX* context = Context();
    const std::unique_ptr<SSL, void (*)(SSL*)> owned(context ? SSL_new(context) : nullptr, SSL_free);
    SSL* ssl = owned.get();
    if (ssl && SSL_set_fd(ssl, socket.fd) == 1 && SSL_set_tlsext_host_name(ssl, name.c_str()) == 1 &&
        SSL_set1_host(ssl, name.c_str()) == 1) {
        // RFC 6125 section 6.4.3: a wildcard only as the whole left-most label.
        SSL_set_hostflags(ssl, X509_CHECK_FLAG_NO_PARTIAL_WILDCARDS);
        for (;;) {
            const int done = SSL_connect(ssl);
            if (done == 1) {
                X509* certificate = SSL_get1_peer_certificate(ssl);
                proof = certificate ? Judged(SSL_get_verify_result(ssl)) : Failed(ProofReason::Error);
                X509_free(certificate);
                break;
            }
            const int error = SSL_get_error(ssl, done);
            const short events = error == SSL_ERROR_WANT_READ ? POLLIN : error == SSL_ERROR_WANT_WRITE ? POLLOUT : 0;
            if (!events) break;  // not TLS, or the peer gave up
            if (!WaitFor(socket.fd, events, deadline, serve_)) {
                proof = Unknown(ProofReason::Timeout);
                break;
            }
        }
    }
    ERR_clear_error();  // this thread's queue: nothing of this probe is left for the next
    return proof;
}

}  // namespace tarnwell::platform
