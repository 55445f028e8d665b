#include "platform/win32/WinTls.h"

#include "platform/win32/WinSockets.h"

#define SECURITY_WIN32
#define CERT_CHAIN_PARA_HAS_EXTRA_FIELDS
#define SCHANNEL_USE_BLACKLISTS  // SCH_CREDENTIALS
#include <windows.h>
#include <subauth.h>  // UNICODE_STRING, for SCH_CREDENTIALS
#include <wincrypt.h>
#include <schannel.h>
#include <security.h>
#include <sspi.h>

#include <algorithm>
#include <memory>
#include <optional>
#include <string_view>
#include <vector>

namespace tarnwell::platform {

namespace {

using Clock = std::chrono::steady_clock;


// TLS record content types (RFC 8446 section 5.1).
constexpr char kAlert = 21;
constexpr char kHandshake = 22;

constexpr DWORD kMaxIntermediates = 8;

// The most a caIssuers URL may give: a certificate or a few, with room.
constexpr std::size_t kMaxIssuerBytes = 64 * 1024;

// A handshake larger than this (a long chain included) is no server's.
constexpr std::size_t kMaxHandshake = 1024 * 1024;

DWORD MillisecondsLeft(Clock::time_point deadline) {
    const auto left = std::chrono::ceil<std::chrono::milliseconds>(deadline - Clock::now()).count();
    return left > 0 ? static_cast<DWORD>(left) : 0;
}

// Waits until the socket is readable (or, with `write`, writable or failed to
// connect) by the deadline: whether it is.
bool WaitFor(SOCKET s, bool write, Clock::time_point deadline) {
    const DWORD left = MillisecondsLeft(deadline);
    if (!left) return false;
    fd_set ready, failed;
    FD_ZERO(&ready);
    FD_ZERO(&failed);
    FD_SET(s, &ready);
    FD_SET(s, &failed);
    timeval limit{static_cast<long>(left / 1000), static_cast<long>((left % 1000) * 1000)};
    return select(0, write ? nullptr : &ready, write ? &ready : nullptr, &failed, &limit) > 0;
}

// Closes a socket on every way out.
struct SocketCloser {
    SOCKET s;
    ~SocketCloser() {
        if (s != INVALID_SOCKET) closesocket(s);
    }
};

// A non-blocking TCP connection to the peer by the deadline, or the reason
// there is none.
SOCKET Connected(const Address& address, std::uint16_t port, Clock::time_point deadline, Proof& failure) {
    failure = Unknown(ProofReason::Refused);
    sockaddr_storage to;
    const int length = ToSockaddr(address, port, to);
    if (!length) return INVALID_SOCKET;
    SocketCloser owned{socket(to.ss_family, SOCK_STREAM, IPPROTO_TCP)};
    const SOCKET s = owned.s;
    if (s == INVALID_SOCKET) return s;
    u_long nonBlocking = 1;
    if (ioctlsocket(s, FIONBIO, &nonBlocking) == 0) {
        bool connected = connect(s, reinterpret_cast<const sockaddr*>(&to), length) == 0;
        if (!connected && WSAGetLastError() == WSAEWOULDBLOCK) {
            if (WaitFor(s, true, deadline)) {
                int error = 0;
                int size = sizeof error;
                connected = getsockopt(s, SOL_SOCKET, SO_ERROR, reinterpret_cast<char*>(&error), &size) == 0 && !error;
            } else {
                failure = Unknown(ProofReason::Timeout);  // no answer by the deadline
            }
        }
        if (connected) owned.s = INVALID_SOCKET;  // the caller's now
        if (connected) return s;
    }
    return INVALID_SOCKET;
}

// Sends all of `data` by the deadline.
bool SendAll(SOCKET s, const char* data, int length, Clock::time_point deadline) {
    while (length > 0) {
        const int n = send(s, data, length, 0);
        if (n == SOCKET_ERROR) {
            if (WSAGetLastError() != WSAEWOULDBLOCK || !WaitFor(s, true, deadline)) return false;
            continue;
        }
        data += n;
        length -= n;
    }
    return true;
}

// SECURITY_FLAG_IGNORE_CERT_CN_INVALID of wininet.h: the SSL policy leaves
// the name to Named.
constexpr DWORD kIgnoreName = 0x00001000;

// DER tags (X.690): a SEQUENCE, and the [2] IA5String of a dNSName in a
// GeneralName (RFC 5280 section 4.2.1.6).
constexpr BYTE kSequence = 0x30;
constexpr BYTE kDnsNameTag = 0x82;

struct LocalFreer {
    void operator()(void* p) const { LocalFree(p); }
};
template <class T>
using LocalOwned = std::unique_ptr<T, LocalFreer>;

struct ChainFreer {
    void operator()(PCCERT_CHAIN_CONTEXT chain) const { CertFreeCertificateChain(chain); }
};
using OwnedChain = std::unique_ptr<const CERT_CHAIN_CONTEXT, ChainFreer>;

// An encoded value as CryptoAPI decodes it, or nothing if it cannot.
template <class T>
LocalOwned<T> Decoded(LPCSTR type, const CRYPT_OBJID_BLOB& value) {
    T* decoded = nullptr;
    DWORD size = 0;
    if (!CryptDecodeObjectEx(X509_ASN_ENCODING, type, value.pbData, value.cbData, CRYPT_DECODE_ALLOC_FLAG, nullptr,
                             &decoded, &size))
        return nullptr;
    return LocalOwned<T>(decoded);
}

const CERT_EXTENSION* Extension(PCCERT_CONTEXT certificate, LPCSTR oid) {
    return CertFindExtension(oid, certificate->pCertInfo->cExtension, certificate->pCertInfo->rgExtension);
}

// The header of the DER element at `p` (X.690 section 8.1.3): its tag, the
// length of its content and its own, or nothing if it runs past `size`.
struct Element {
    BYTE tag;
    DWORD header;
    DWORD length;
};
std::optional<Element> ElementAt(const BYTE* p, DWORD size) {
    if (size < 2) return std::nullopt;
    Element e{p[0], 2, p[1]};
    if (e.length & 0x80) {
        const DWORD octets = e.length & 0x7f;
        if (octets == 0 || octets > 3 || size < 2 + octets) return std::nullopt;
        e.length = 0;
        for (DWORD i = 0; i < octets; ++i) e.length = e.length << 8 | p[2 + i];
        e.header += octets;
    }
    if (e.length > size - e.header) return std::nullopt;
    return e;
}

// The lengths of the dNSName entries of a subjectAltName value, in order, as
// they are encoded: CryptoAPI gives each name as text that ends at its first
// NUL, and a name may hide one ("good.test\0.evil.test").
std::optional<std::vector<DWORD>> EncodedDnsLengths(const CRYPT_OBJID_BLOB& value) {
    const auto names = ElementAt(value.pbData, value.cbData);
    if (!names || names->tag != kSequence) return std::nullopt;
    std::vector<DWORD> lengths;
    const BYTE* p = value.pbData + names->header;
    for (DWORD left = names->length; left > 0;) {
        const auto entry = ElementAt(p, left);
        if (!entry) return std::nullopt;
        if (entry->tag == kDnsNameTag) lengths.push_back(entry->length);
        p += entry->header + entry->length;
        left -= entry->header + entry->length;
    }
    return lengths;
}

// Equal text, ASCII letters alike in either case and nothing else folded.
bool SameText(std::wstring_view presented, std::string_view reference) {
    const auto lower = [](unsigned c) { return c - 'A' < 26u ? c | 0x20u : c; };
    return presented.size() == reference.size() &&
           std::equal(presented.begin(), presented.end(), reference.begin(),
                      [&](wchar_t p, char r) { return lower(p) == lower(static_cast<unsigned char>(r)); });
}

// Whether a DNS name of the certificate stands for `name` (RFC 9525 section
// 6.3): the same name, or a wildcard that is the whole left-most label and
// stands for exactly one label, with two labels at least after it, as
// OpenSSL asks (never "*.test", "w*.example.test" or "*.*.example.test").
bool Matches(std::wstring_view presented, std::string_view name) {
    if (presented.size() < 2 || presented[0] != L'*' || presented[1] != L'.') return SameText(presented, name);
    const std::wstring_view parent = presented.substr(1);  // ".example.test"
    const std::size_t dot = name.find('.');
    return parent.find(L'.', 1) != std::wstring_view::npos && dot != 0 && dot != std::string_view::npos &&
           SameText(parent, name.substr(dot));
}

// Whether the certificate proves `name` (RFC 9525 section 6.3): by a DNS
// name of its subjectAltName only, never by the subject's common name nor an
// IP address entry, so a certificate without a DNS name proves none, nor one
// whose subjectAltName CryptoAPI cannot read (Wine's refuses a NUL in a
// name).
bool Named(PCCERT_CONTEXT certificate, const std::string& name) {
    const CERT_EXTENSION* san = Extension(certificate, szOID_SUBJECT_ALT_NAME2);
    const auto names = san ? Decoded<CERT_ALT_NAME_INFO>(X509_ALTERNATE_NAME, san->Value) : nullptr;
    const auto lengths = san ? EncodedDnsLengths(san->Value) : std::nullopt;
    if (!names || !lengths || name.empty()) return false;
    std::size_t dns = 0;
    for (DWORD i = 0; i < names->cAltEntry && dns < lengths->size(); ++i) {
        const CERT_ALT_NAME_ENTRY& entry = names->rgAltEntry[i];
        if (entry.dwAltNameChoice != CERT_ALT_NAME_DNS_NAME) continue;
        const std::wstring_view presented(entry.pwszDNSName ? entry.pwszDNSName : L"");
        // A name cut short by a NUL names nothing.
        if (presented.size() == (*lengths)[dns++] && Matches(presented, name)) return true;
    }
    return false;
}

// The first http URL the certificate gives for its issuer (caIssuers in its
// Authority Information Access, RFC 5280 section 4.2.2.1), if any. Browsers
// fetch from no other kind (LDAP, FTP), so one of those counts as none.
std::optional<std::string> IssuerUrl(PCCERT_CONTEXT certificate) {
    const CERT_EXTENSION* aia = Extension(certificate, szOID_AUTHORITY_INFO_ACCESS);
    const auto access = aia ? Decoded<CERT_AUTHORITY_INFO_ACCESS>(X509_AUTHORITY_INFO_ACCESS, aia->Value) : nullptr;
    for (DWORD i = 0; access && i < access->cAccDescr; ++i) {
        const CERT_ACCESS_DESCRIPTION& d = access->rgAccDescr[i];
        const std::wstring_view url(d.AccessLocation.dwAltNameChoice == CERT_ALT_NAME_URL && d.AccessLocation.pwszURL
                                        ? d.AccessLocation.pwszURL
                                        : L"");
        const bool printable = std::all_of(url.begin(), url.end(), [](wchar_t c) { return c > L' ' && c < 0x7f; });
        if (d.pszAccessMethod && std::string_view(d.pszAccessMethod) == szOID_PKIX_CA_ISSUERS && printable &&
            _wcsnicmp(url.data(), L"http://", 7) == 0)
            return std::string(url.begin(), url.end());
    }
    return std::nullopt;
}

struct StoreCloser {
    void operator()(HCERTSTORE store) const { CertCloseStore(store, 0); }
};
using OwnedStore = std::unique_ptr<void, StoreCloser>;

// The certificates of a caIssuers body, which RFC 5280 section 4.2.2.1 makes
// one DER certificate or a certs-only PKCS #7, in a store of their own;
// nothing for anything else.
OwnedStore Issuers(const std::string& body) {
    CERT_BLOB blob{static_cast<DWORD>(body.size()), reinterpret_cast<BYTE*>(const_cast<char*>(body.data()))};
    HCERTSTORE store = nullptr;
    if (body.empty() || body.size() > MAXDWORD ||
        !CryptQueryObject(CERT_QUERY_OBJECT_BLOB, &blob,
                          CERT_QUERY_CONTENT_FLAG_CERT | CERT_QUERY_CONTENT_FLAG_PKCS7_SIGNED,
                          CERT_QUERY_FORMAT_FLAG_BINARY, 0, nullptr, nullptr, nullptr, &store, nullptr, nullptr))
        return nullptr;
    OwnedStore owned(store);
    PCCERT_CONTEXT any = CertEnumCertificatesInStore(store, nullptr);
    if (!any) return nullptr;
    CertFreeCertificateContext(any);
    return owned;
}

// The chain CryptoAPI builds for server authentication from the peer's
// certificate, with the certificates the peer sent and those of `more` (an
// issuer fetched: the chain engine takes an intermediate from there, never a
// trust anchor). The engine fetches no issuer itself: Probe does, within its
// bound, and tells a URL that gave none from one that could not be asked,
// which CryptoAPI does not. The system's own retrieval (its roots brought up
// to date) has the time left. Nothing is fetched for revocation, which is
// not asked, and nothing at all once no time is left. Wine fetches the
// issuer all the same, with no bound of its own (it passes no time-out down
// to its HTTP retrieval).
OwnedChain Chain(PCCERT_CONTEXT certificate, HCERTSTORE more, Clock::time_point deadline) {
    LPSTR usages[] = {const_cast<LPSTR>(szOID_PKIX_KP_SERVER_AUTH), const_cast<LPSTR>(szOID_SERVER_GATED_CRYPTO),
                      const_cast<LPSTR>(szOID_SGC_NETSCAPE)};
    CERT_CHAIN_PARA chainPara{};
    chainPara.cbSize = sizeof chainPara;
    chainPara.RequestedUsage.dwType = USAGE_MATCH_TYPE_OR;
    chainPara.RequestedUsage.Usage.cUsageIdentifier = static_cast<DWORD>(std::size(usages));
    chainPara.RequestedUsage.Usage.rgpszUsageIdentifier = usages;
    const DWORD left = MillisecondsLeft(deadline);
    chainPara.dwUrlRetrievalTimeout = std::max<DWORD>(left, 1);  // 0 would be the system's default
    const DWORD flags =
        CERT_CHAIN_CACHE_END_CERT | CERT_CHAIN_DISABLE_AIA | (left ? 0 : CERT_CHAIN_CACHE_ONLY_URL_RETRIEVAL);
    const OwnedStore both(more ? CertOpenStore(CERT_STORE_PROV_COLLECTION, 0, 0, 0, nullptr) : nullptr);
    if (more && (!both || !CertAddStoreToCollection(both.get(), certificate->hCertStore, 0, 0) ||
                 !CertAddStoreToCollection(both.get(), more, 0, 0)))
        return nullptr;
    PCCERT_CHAIN_CONTEXT chain = nullptr;
    if (!CertGetCertificateChain(nullptr, certificate, nullptr, more ? both.get() : certificate->hCertStore, &chainPara,
                                 flags, nullptr, &chain))
        return nullptr;
    return OwnedChain(chain);
}

// The chain as the SSL policy of CryptoAPI reports it: a certificate out of
// its dates is not the chain's fault.
ChainEnd ChainOf(DWORD policyError) {
    switch (policyError) {
        case ERROR_SUCCESS:
        case static_cast<DWORD>(CERT_E_EXPIRED):
            return ChainEnd::Trusted;
        case static_cast<DWORD>(CERT_E_UNTRUSTEDROOT):
        case static_cast<DWORD>(CERT_E_UNTRUSTEDTESTROOT):
        case static_cast<DWORD>(CERT_E_CHAINING):
            return ChainEnd::Untrusted;
        default:
            return ChainEnd::Error;
    }
}

// The SSL policy of CryptoAPI over the chain, for its trust and dates, with
// its name check off (that is Named's): the error it reports.
DWORD PolicyError(PCCERT_CHAIN_CONTEXT chain) {
    SSL_EXTRA_CERT_CHAIN_POLICY_PARA ssl{};
    ssl.cbSize = sizeof ssl;
    ssl.dwAuthType = AUTHTYPE_SERVER;
    ssl.fdwChecks = kIgnoreName;
    ssl.pwszServerName = nullptr;
    CERT_CHAIN_POLICY_PARA policy{};
    policy.cbSize = sizeof policy;
    policy.pvExtraPolicyPara = &ssl;
    CERT_CHAIN_POLICY_STATUS status{};
    status.cbSize = sizeof status;
    if (!CertVerifyCertificateChainPolicy(CERT_CHAIN_POLICY_SSL, chain, &policy, &status))
        return static_cast<DWORD>(CERT_E_INVALID_POLICY);
    return status.dwError;
}

// What the chain CryptoAPI built shows of the peer's certificate, as a
// browser on Windows reads it: the chain to a root of the system's store for
// server authentication, its trust first, as curl reads it (Wine's SSL
// policy passes a chain that ends at an issuer it could not find), then the
// SSL policy for trust and dates; the name and the leaf's own dates beside.
// Nesting of the dates does not count (Windows ignores it), nor revocation,
// which is not asked.
CertificateFacts Facts(PCCERT_CHAIN_CONTEXT chain, PCCERT_CONTEXT certificate, const std::string& name) {
    CertificateFacts facts;
    facts.certificate = true;
    facts.named = Named(certificate, name);
    facts.dated = CertVerifyTimeValidity(nullptr, certificate->pCertInfo) == 0;
    if (!chain || chain->cChain == 0 || chain->rgpChain[0]->cElement == 0) return facts;  // an error
    const DWORD chainErrors = chain->TrustStatus.dwErrorStatus &
                              ~(CERT_TRUST_IS_NOT_TIME_NESTED | CERT_TRUST_REVOCATION_STATUS_UNKNOWN |
                                CERT_TRUST_IS_OFFLINE_REVOCATION);
    if (chainErrors & CERT_TRUST_IS_PARTIAL_CHAIN) {
        facts.chain = ChainEnd::IssuerMissing;
    } else if (chainErrors & CERT_TRUST_IS_UNTRUSTED_ROOT) {
        facts.chain = ChainEnd::Untrusted;
    } else if (chain->rgpChain[0]->cElement > kMaxIntermediates + 2) {
        // At most 8 intermediate CAs between the site and the root, as on
        // Linux (and as mozilla::pkix allows): a longer chain proves nothing.
        facts.chain = ChainEnd::TooDeep;
    } else {
        const DWORD policy = PolicyError(chain);
        facts.chain = ChainOf(policy);
        if (facts.chain == ChainEnd::Trusted && chainErrors & ~CERT_TRUST_IS_NOT_TIME_VALID)
            facts.chain = ChainEnd::Error;
        facts.dated = facts.dated && policy != static_cast<DWORD>(CERT_E_EXPIRED) &&
                      !(chainErrors & CERT_TRUST_IS_NOT_TIME_VALID);
    }
    return facts;
}

// The peer's certificate verified, an issuer the chain lacks fetched from
// the caIssuers URL of the certificate that lacks it, once, by the deadline.
CertificateFacts Verified(PCCERT_CONTEXT certificate, const std::string& name, Clock::time_point deadline,
                          Http& http) {
    const OwnedChain chain = Chain(certificate, nullptr, deadline);
    CertificateFacts facts = Facts(chain.get(), certificate, name);
    if (facts.chain != ChainEnd::IssuerMissing) return facts;
    const CERT_SIMPLE_CHAIN& simple = *chain->rgpChain[0];
    const auto url = IssuerUrl(simple.rgpElement[simple.cElement - 1]->pCertContext);
    const GetReply got = url ? http.Get(*url, kMaxIssuerBytes, deadline) : GetReply{};
    const OwnedStore issuers = got.end == GetEnd::Reply ? Issuers(got.body) : nullptr;
    facts.fetch = url ? FetchEnded(got.end, issuers != nullptr) : IssuerFetch::NoUrl;
    if (facts.fetch != IssuerFetch::Fetched) return facts;
    const OwnedChain again = Chain(certificate, issuers.get(), deadline);
    facts = Facts(again.get(), certificate, name);
    facts.fetch = IssuerFetch::Fetched;
    return facts;
}

// One handshake on a connected socket, its certificate judged as soon as
// it has come: a judgement that fails stands whatever the handshake does
// after it, one that passes proves the name once the handshake completes.
class Handshake {
public:
    Handshake(SOCKET s, const std::string& name, Clock::time_point deadline, Http& http)
        : socket_(s), name_(name), target_(name.begin(), name.end()), deadline_(deadline), http_(http) {}

    ~Handshake() {
        if (haveContext_) DeleteSecurityContext(&context_);
        if (haveCredentials_) FreeCredentialsHandle(&credentials_);
    }

    Proof Run() {
        if (!AcquireCredentials()) return Unknown(ProofReason::NotTls);
        const HandshakeEnd ended = Exchange();
        Gather();  // a certificate that came with the peer's last bytes
        facts_.handshake = ended;
        return Judge(facts_);
    }

private:
    // The certificate is judged here, not by SChannel, and no certificate
    // of ours is offered. SCH_CREDENTIALS (Windows 10 1809 on) brings the
    // system's protocols, TLS 1.3 included; SCHANNEL_CRED stops at TLS 1.2
    // and serves older systems. TLS 1.2 at least, as the browsers ask.
    bool AcquireCredentials() {
        constexpr DWORD kFlags = SCH_CRED_MANUAL_CRED_VALIDATION | SCH_CRED_NO_DEFAULT_CREDS;
        TLS_PARAMETERS parameters{};
        parameters.grbitDisabledProtocols =
            SP_PROT_SSL2_CLIENT | SP_PROT_SSL3_CLIENT | SP_PROT_TLS1_0_CLIENT | SP_PROT_TLS1_1_CLIENT;
        SCH_CREDENTIALS current{};
        current.dwVersion = SCH_CREDENTIALS_VERSION;
        current.dwFlags = kFlags;
        current.cTlsParameters = 1;
        current.pTlsParameters = &parameters;
        SCHANNEL_CRED older{};
        older.dwVersion = SCHANNEL_CRED_VERSION;
        older.dwFlags = kFlags;
        older.grbitEnabledProtocols = SP_PROT_TLS1_2_CLIENT;
        for (void* cred : {static_cast<void*>(&current), static_cast<void*>(&older)}) {
            haveCredentials_ =
                AcquireCredentialsHandleW(nullptr, const_cast<wchar_t*>(UNISP_NAME_W), SECPKG_CRED_OUTBOUND, nullptr,
                                          cred, nullptr, nullptr, &credentials_, nullptr) == SEC_E_OK;
            if (haveCredentials_) break;
        }
        return haveCredentials_;
    }

    // Whether the certificate came and does not pass, whatever the
    // handshake does next.
    bool Unproven() const {
        CertificateFacts whole = facts_;
        whole.handshake = HandshakeEnd::Complete;
        return facts_.certificate && Judge(whole) != kProven;
    }

    // The handshake's messages until it is complete, or how it ended before.
    HandshakeEnd Exchange() {
        std::vector<char> in;  // the peer's bytes not yet taken by SChannel
        SECURITY_STATUS state = Step(nullptr);
        bool askedForCertificate = false;
        for (;;) {
            Gather();
            if (Unproven()) return HandshakeEnd::Ended;  // nothing more is sent
            if (state == SEC_E_OK) return HandshakeEnd::Complete;
            if (!MillisecondsLeft(deadline_)) return HandshakeEnd::TimedOut;
            if (state == SEC_I_INCOMPLETE_CREDENTIALS && !askedForCertificate) {
                // The peer asks for a certificate of ours: go on without one.
                askedForCertificate = true;
                state = Step(&in);
                continue;
            }
            if (sendFailed_) return HandshakeEnd::Ended;  // reset while we sent
            if (state != SEC_I_CONTINUE_NEEDED && state != SEC_E_INCOMPLETE_MESSAGE)
                return HandshakeEnd::Ended;  // not TLS, or the peer gave up
            if (state == SEC_I_CONTINUE_NEEDED && !in.empty()) {
                state = Step(&in);  // a record of the peer's is still to be taken
                if (state != SEC_E_INCOMPLETE_MESSAGE) continue;
            }
            if (!WaitFor(socket_, false, deadline_)) return HandshakeEnd::TimedOut;
            char chunk[16 * 1024];
            const int n = recv(socket_, chunk, sizeof chunk, 0);
            if (n == SOCKET_ERROR && WSAGetLastError() == WSAEWOULDBLOCK) continue;
            if (n <= 0) return HandshakeEnd::Ended;  // closed, or reset
            // A TLS server's first record is a handshake or an alert (RFC
            // 8446 section 5.1); SChannel may wait for more of anything else.
            if (!answered_ && chunk[0] != kHandshake && chunk[0] != kAlert) return HandshakeEnd::Ended;
            answered_ = true;
            if (in.size() + static_cast<std::size_t>(n) > kMaxHandshake) return HandshakeEnd::Ended;
            in.insert(in.end(), chunk, chunk + n);
            state = Step(&in);
        }
    }

    // The peer's certificate verified once SChannel shows it: at each turn
    // of the handshake and once more after it ended, completed or not. Wine
    // shows it as soon as the server's Certificate message is taken, and
    // still on the context of a handshake that failed after it (an alert, a
    // reset). Where SChannel would show none for a handshake that failed,
    // the failure stands as it is (NotTls, Timeout).
    void Gather() {
        if (facts_.certificate || !haveContext_) return;
        PCCERT_CONTEXT certificate = nullptr;
        if (QueryContextAttributesW(&context_, SECPKG_ATTR_REMOTE_CERT_CONTEXT, &certificate) != SEC_E_OK ||
            !certificate)
            return;
        facts_ = Verified(certificate, name_, deadline_, http_);
        CertFreeCertificateContext(certificate);
    }

    // One call of InitializeSecurityContext with the peer's bytes (none at
    // the start); sends what it gives and keeps in `in` what it left.
    SECURITY_STATUS Step(std::vector<char>* in) {
        const bool first = !haveContext_;
        SecBuffer inBuffers[2]{};
        SecBufferDesc inDesc{SECBUFFER_VERSION, 2, inBuffers};
        if (in) {
            inBuffers[0] = {static_cast<unsigned long>(in->size()), SECBUFFER_TOKEN, in->data()};
            inBuffers[1] = {0, SECBUFFER_EMPTY, nullptr};
        }
        SecBuffer outBuffer{0, SECBUFFER_TOKEN, nullptr};
        SecBufferDesc outDesc{SECBUFFER_VERSION, 1, &outBuffer};
        const unsigned long wanted = ISC_REQ_SEQUENCE_DETECT | ISC_REQ_REPLAY_DETECT | ISC_REQ_CONFIDENTIALITY |
                                     ISC_REQ_ALLOCATE_MEMORY | ISC_REQ_STREAM | ISC_REQ_MANUAL_CRED_VALIDATION;
        unsigned long got = 0;
        const SECURITY_STATUS state = InitializeSecurityContextW(
            &credentials_, first ? nullptr : &context_, const_cast<wchar_t*>(target_.c_str()),
            wanted, 0, 0, in ? &inDesc : nullptr, 0, first ? &context_ : nullptr, &outDesc, &got, nullptr);
        if (first && (state == SEC_E_OK || state == SEC_I_CONTINUE_NEEDED || state == SEC_I_INCOMPLETE_CREDENTIALS))
            haveContext_ = true;
        if (outBuffer.pvBuffer) {
            if (outBuffer.cbBuffer &&
                !SendAll(socket_, static_cast<const char*>(outBuffer.pvBuffer), static_cast<int>(outBuffer.cbBuffer),
                         deadline_))
                sendFailed_ = true;
            FreeContextBuffer(outBuffer.pvBuffer);
        }
        if (sendFailed_) return SEC_E_INTERNAL_ERROR;
        if (in && state != SEC_E_INCOMPLETE_MESSAGE && state != SEC_I_INCOMPLETE_CREDENTIALS) {
            // What SChannel did not take stays for the next call.
            if (inBuffers[1].BufferType == SECBUFFER_EXTRA && inBuffers[1].cbBuffer <= in->size())
                in->erase(in->begin(), in->end() - inBuffers[1].cbBuffer);
            else
                in->clear();
        }
        return state;
    }

    SOCKET socket_;
    std::string name_;     // the ACE name: ASCII
    std::wstring target_;  // the same, for SNI
    Clock::time_point deadline_;
    Http& http_;
    CertificateFacts facts_;  // the certificate's, once it has come
    CredHandle credentials_{};
    CtxtHandle context_{};
    bool haveCredentials_ = false;
    bool haveContext_ = false;
    bool sendFailed_ = false;  // reset, or not all taken by the deadline
    bool answered_ = false;  // the peer has sent its first bytes
};

}  // namespace

// CryptoAPI's chain engine may bring the system's roots up to date, and
// Wine's fetches what the site leaves out, without a bound: no probe runs on
// the calling thread.
std::vector<Proof> WinTls::ProbeAll(const std::vector<Address>& addresses, const std::string& name,
                                    Clock::time_point deadline, const Serve& serve, const ProbeEnded& ended,
                                    std::uint16_t port) {
    return ProbeOnThreads([=, this](const Address& a) { return Probe(a, name, deadline, port); }, false, addresses,
                          deadline, serve, ended);
}

Proof WinTls::Probe(const Address& address, const std::string& name, Clock::time_point deadline,
                    std::uint16_t port) {
    Proof failure;
    const SocketCloser s{Connected(address, port, deadline, failure)};
    if (s.s == INVALID_SOCKET) return failure;
    return Handshake(s.s, name, deadline, http_).Run();
}

}  // namespace tarnwell::platform
