// The OpenSSL probe against TLS servers on 127.0.0.1 with certificates made
// here under a private root: only subjectAltName DNS names prove a name, the
// judgement of a certificate stands whatever the handshake does after it,
// and an issuer the server leaves out is fetched from a loopback caIssuers
// URL as an untrusted intermediate, by the deadline.
#include "platform/posix/OpenSslTls.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <openssl/pem.h>
#include <openssl/ssl.h>
#include <openssl/x509v3.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <filesystem>
#include <functional>
#include <memory>
#include <thread>

namespace tarnwell::platform {

void PrintTo(const Proof& p, std::ostream* os) {
    static const char* const kResults[] = {"Proven", "Failed", "Unknown"};
    static const char* const kReasons[] = {"None",    "Name",   "Untrusted", "Expired",    "Error",   "Refused",
                                           "Timeout", "NotTls", "Aborted",   "Incomplete", "Internal"};
    *os << kResults[static_cast<int>(p.result)] << "(" << kReasons[static_cast<int>(p.reason)] << ")";
}

namespace {

using namespace std::chrono_literals;

struct Issued {
    std::shared_ptr<EVP_PKEY> key;
    std::shared_ptr<X509> cert;
};

// A certificate for CN `name` with extensions as openssl.cnf writes them,
// signed by `issuer` or by itself, valid from yesterday for `days` days.
Issued Issue(const char* name, const std::vector<std::pair<int, std::string>>& extensions, const Issued* issuer,
             long days = 30) {
    static int serial = 0;
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

std::string Der(const Issued& c) {
    unsigned char* out = nullptr;
    const int n = i2d_X509(c.cert.get(), &out);
    std::string der(reinterpret_cast<char*>(out), n);
    OPENSSL_free(out);
    return der;
}

std::string Pkcs7(const Issued& c, int copies = 1) {  // certs-only
    PKCS7* p7 = PKCS7_new();
    PKCS7_set_type(p7, NID_pkcs7_signed);
    PKCS7_content_new(p7, NID_pkcs7_data);
    while (copies-- > 0) PKCS7_add_certificate(p7, c.cert.get());
    unsigned char* out = nullptr;
    const int n = i2d_PKCS7(p7, &out);
    std::string der(reinterpret_cast<char*>(out), n);
    OPENSSL_free(out);
    PKCS7_free(p7);
    return der;
}

// Reads what comes until the peer closes (or a long while).
void Drain(int fd) {
    char buffer[4096];
    pollfd p{fd, POLLIN, 0};
    while (::poll(&p, 1, 10000) > 0 && ::recv(fd, buffer, sizeof buffer, 0) > 0) {
    }
}

// A listener on 127.0.0.1 whose first connection `serve` handles on a thread.
class Server {
public:
    explicit Server(std::function<void(int)> serve) : listener_(::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0)) {
        sockaddr_in a{};
        a.sin_family = AF_INET;
        a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        socklen_t size = sizeof a;
        if (::bind(listener_, reinterpret_cast<sockaddr*>(&a), size) != 0 || ::listen(listener_, 4) != 0 ||
            ::getsockname(listener_, reinterpret_cast<sockaddr*>(&a), &size) != 0)
            throw std::runtime_error("listen");
        port = ntohs(a.sin_port);
        thread_ = std::thread([this, serve] {
            pollfd p{listener_, POLLIN, 0};
            const int fd = ::poll(&p, 1, 10000) > 0 ? ::accept4(listener_, nullptr, nullptr, SOCK_CLOEXEC) : -1;
            if (fd < 0) return;
            serve(fd);
            ::close(fd);
        });
    }
    ~Server() {
        ::shutdown(listener_, SHUT_RDWR);  // a server never reached gives up
        thread_.join();
        ::close(listener_);
    }
    std::uint16_t port = 0;

private:
    int listener_;
    std::thread thread_;
};

// What the caIssuers URL serves: an intermediate (DER or PKCS #7), a PKCS #7
// of it over 64 KiB, nothing at all, text, a self-signed certificate; or the
// URL is LDAP.
enum class Aia { Der, Pkcs7, Oversized, Silent, Text, Rogue, Ldap };

void ServeHttp(int fd, Aia aia) {
    if (aia == Aia::Silent) return Drain(fd);
    const std::string body = aia == Aia::Der       ? Der(kIntermediate)
                             : aia == Aia::Pkcs7   ? Pkcs7(kIntermediate)
                             : aia == Aia::Rogue   ? Der(kRogue)
                             : aia == Aia::Text    ? std::string("not a certificate")
                                                   : Pkcs7(kIntermediate, 64 * 1024 / Der(kIntermediate).size() + 1);
    std::string request;
    char buffer[4096];
    for (ssize_t n; request.find("\r\n\r\n") == std::string::npos && (n = ::recv(fd, buffer, sizeof buffer, 0)) > 0;)
        request.append(buffer, n);
    const std::string reply =
        "HTTP/1.1 200 OK\r\nContent-Length: " + std::to_string(body.size()) + "\r\nConnection: close\r\n\r\n" + body;
    ::send(fd, reply.data(), reply.size(), MSG_NOSIGNAL);
}

// The TLS server: a whole handshake; one that asks for a client certificate
// (and ends the handshake, under TLS 1.2, on the empty one it gets); one that
// resets the connection once its certificate is out (TLS 1.2); one that
// speaks no TLS; one silent.
enum class Peer { Tls, ClientCert12, ClientCert13, Reset12, NotTls, Silent };

void ServeTls(int fd, Peer peer, const Issued& leaf, bool chain) {
    if (peer == Peer::Silent) return Drain(fd);
    if (peer == Peer::NotTls) {
        ::send(fd, "SSH-2.0-OpenSSH_9.2\r\n", 21, MSG_NOSIGNAL);
        return Drain(fd);
    }
    const std::unique_ptr<SSL_CTX, decltype(&SSL_CTX_free)> context(SSL_CTX_new(TLS_server_method()), SSL_CTX_free);
    SSL_CTX_use_certificate(context.get(), leaf.cert.get());
    SSL_CTX_use_PrivateKey(context.get(), leaf.key.get());
    if (chain) SSL_CTX_add1_chain_cert(context.get(), kIntermediate.cert.get());
    if (peer != Peer::Tls && peer != Peer::ClientCert13) SSL_CTX_set_max_proto_version(context.get(), TLS1_2_VERSION);
    if (peer == Peer::ClientCert12 || peer == Peer::ClientCert13)
        SSL_CTX_set_verify(context.get(), SSL_VERIFY_PEER | SSL_VERIFY_FAIL_IF_NO_PEER_CERT, nullptr);
    const std::unique_ptr<SSL, decltype(&SSL_free)> ssl(SSL_new(context.get()), SSL_free);
    SSL_set_fd(ssl.get(), fd);
    ::fcntl(fd, F_SETFL, O_NONBLOCK);
    pollfd p{fd, POLLIN, 0};
    for (int done; (done = SSL_accept(ssl.get())) != 1 && SSL_get_error(ssl.get(), done) == SSL_ERROR_WANT_READ;) {
        const bool sent = SSL_get_state(ssl.get()) == TLS_ST_SW_SRVR_DONE;  // the certificate is out
        if (::poll(&p, 1, 10000) <= 0) return;
        if (peer == Peer::Reset12 && sent) {  // the client has answered it: reset
            const linger now{1, 0};
            ::setsockopt(fd, SOL_SOCKET, SO_LINGER, &now, sizeof now);
            return;
        }
    }
    Drain(fd);
}

// The leaf's issuer: the intermediate, sent with it or left out (then with a
// caIssuers URL unless `aia` is unset); itself; the self-signed rogue, left out.
enum class Signer { Chain, Hidden, Self, Rogue };

struct Row {
    const char* label;
    const char* name;        // the name probed
    const char* san;         // the leaf's subjectAltName, if any; its CN is always example.test
    long days;               // the leaf's validity from yesterday
    Signer signer;
    Peer peer;
    std::optional<Aia> aia;  // with Signer::Hidden or Rogue
    Proof expected;
};

class OpenSslTlsTest : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        FILE* f = std::fopen(Anchors().c_str(), "w");
        PEM_write_X509(f, kRoot.cert.get());
        std::fclose(f);
    }
    static void TearDownTestSuite() { std::filesystem::remove(Anchors()); }
    static std::string Anchors() {
        return std::filesystem::temp_directory_path() / ("tarnwell-tls-" + std::to_string(::getpid()) + ".pem");
    }

    Proof Probe(const Row& row) {
        std::unique_ptr<Server> http;
        std::vector<std::pair<int, std::string>> extensions = {{NID_authority_key_identifier, "keyid"}};
        if (row.san) extensions.emplace_back(NID_subject_alt_name, row.san);
        if (row.aia) {
            http = std::make_unique<Server>([aia = *row.aia](int fd) { ServeHttp(fd, aia); });
            extensions.emplace_back(NID_info_access, (row.aia == Aia::Ldap ? "caIssuers;URI:ldap://127.0.0.1:"
                                                                            : "caIssuers;URI:http://127.0.0.1:") +
                                                         std::to_string(http->port) + "/issuer.crt");
        }
        const Issued* issuer = row.signer == Signer::Self ? nullptr : row.signer == Signer::Rogue ? &kRogue : &kIntermediate;
        const Issued leaf = Issue("example.test", extensions, issuer, row.days);
        Server tls([&](int fd) { ServeTls(fd, row.peer, leaf, row.signer == Signer::Chain); });
        return tls_.Probe(*Address::Parse("127.0.0.1"), row.name, std::chrono::steady_clock::now() + 2s, tls.port);
    }

    OpenSslTls tls_{Anchors()};
};

constexpr auto kName = Failed(ProofReason::Name);
constexpr auto kUntrusted = Failed(ProofReason::Untrusted);
constexpr auto kExpired = Failed(ProofReason::Expired);
constexpr auto kAborted = Unknown(ProofReason::Aborted);
constexpr auto kIncomplete = Unknown(ProofReason::Incomplete);
constexpr const char* kSan = "DNS:example.test";
constexpr const char* kName0 = "example.test";

TEST_F(OpenSslTlsTest, JudgesTheCertificateAsBrowsersDo) {
    const Row rows[] = {
        {"SAN DNS name", kName0, kSan, 30, Signer::Chain, Peer::Tls, {}, kProven},
        {"another name", "other.test", kSan, 30, Signer::Chain, Peer::Tls, {}, kName},
        {"name only in the CN", kName0, nullptr, 30, Signer::Chain, Peer::Tls, {}, kName},
        {"IP SAN only", kName0, "IP:127.0.0.1", 30, Signer::Chain, Peer::Tls, {}, kName},
        {"IP SAN against the same text", "127.0.0.1", "IP:127.0.0.1", 30, Signer::Chain, Peer::Tls, {}, kName},
        {"wildcard", "www.example.test", "DNS:*.example.test", 30, Signer::Chain, Peer::Tls, {}, kProven},
        {"wildcard over two labels", "a.www.example.test", "DNS:*.example.test", 30, Signer::Chain, Peer::Tls, {}, kName},
        {"wildcard over no label", kName0, "DNS:*.example.test", 30, Signer::Chain, Peer::Tls, {}, kName},
        {"partial wildcard", "www.example.test", "DNS:w*.example.test", 30, Signer::Chain, Peer::Tls, {}, kName},
        {"expired", kName0, kSan, -1, Signer::Chain, Peer::Tls, {}, kExpired},
        {"self-signed", kName0, kSan, 30, Signer::Self, Peer::Tls, {}, kUntrusted},
        {"client certificate asked, TLS 1.2", kName0, kSan, 30, Signer::Chain, Peer::ClientCert12, {}, kAborted},
        {"client certificate asked, expired", kName0, kSan, -1, Signer::Chain, Peer::ClientCert12, {}, kExpired},
        {"client certificate asked, TLS 1.3", kName0, kSan, 30, Signer::Chain, Peer::ClientCert13, {}, kProven},
        {"reset after the certificate", kName0, kSan, 30, Signer::Chain, Peer::Reset12, {}, kAborted},
        {"reset after a CN-only certificate", kName0, nullptr, 30, Signer::Chain, Peer::Reset12, {}, kName},
        {"not TLS", kName0, kSan, 30, Signer::Chain, Peer::NotTls, {}, Unknown(ProofReason::NotTls)},
        {"silent", kName0, kSan, 30, Signer::Chain, Peer::Silent, {}, Unknown(ProofReason::Timeout)},
        {"issuer left out, no URL", kName0, kSan, 30, Signer::Hidden, Peer::Tls, {}, kUntrusted},
        {"issuer fetched as DER", kName0, kSan, 30, Signer::Hidden, Peer::Tls, Aia::Der, kProven},
        {"issuer fetched as PKCS #7", kName0, kSan, 30, Signer::Hidden, Peer::Tls, Aia::Pkcs7, kProven},
        {"issuer fetched, then reset", kName0, kSan, 30, Signer::Hidden, Peer::Reset12, Aia::Der, kAborted},
        {"issuer fetched, name wrong", "other.test", kSan, 30, Signer::Hidden, Peer::Tls, Aia::Der, kName},
        {"issuer URL silent", kName0, kSan, 30, Signer::Hidden, Peer::Tls, Aia::Silent, kIncomplete},
        {"issuer URL silent, name wrong", "other.test", kSan, 30, Signer::Hidden, Peer::Tls, Aia::Silent, kName},
        {"issuer URL over 64 KiB", kName0, kSan, 30, Signer::Hidden, Peer::Tls, Aia::Oversized, kIncomplete},
        {"issuer URL serves text", kName0, kSan, 30, Signer::Hidden, Peer::Tls, Aia::Text, kIncomplete},
        {"issuer URL is LDAP", kName0, kSan, 30, Signer::Hidden, Peer::Tls, Aia::Ldap, kUntrusted},
        {"self-signed issuer fetched", kName0, kSan, 30, Signer::Rogue, Peer::Tls, Aia::Rogue, kUntrusted},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.label);
        EXPECT_EQ(Probe(row), row.expected);
    }
}

// The trust store is loaded by whichever probe comes first.
TEST_F(OpenSslTlsTest, ProbesAtOnce) {
    OpenSslTls fresh(Anchors());
    const Issued leaf = Issue("example.test", {{NID_subject_alt_name, kSan}}, &kIntermediate);
    std::vector<std::unique_ptr<Server>> servers;
    for (int i = 0; i < 6; ++i)
        servers.push_back(std::make_unique<Server>([&](int fd) { ServeTls(fd, Peer::Tls, leaf, true); }));
    std::vector<Proof> proofs(servers.size());
    std::vector<std::thread> probes;
    for (std::size_t i = 0; i < servers.size(); ++i)
        probes.emplace_back([&, i] {
            proofs[i] = fresh.Probe(*Address::Parse("127.0.0.1"), kName0, std::chrono::steady_clock::now() + 5s,
                                    servers[i]->port);
        });
    for (auto& t : probes) t.join();
    EXPECT_EQ(proofs, std::vector<Proof>(servers.size(), kProven));
}

}  // namespace
}  // namespace tarnwell::platform
